#pragma once

#include <QString>

// Where the files the program ships live: <prefix>/share/velluma when installed, the
// source tree's resources/ when run from the build folder.
namespace Resources {

// The resources folder, without a trailing slash.
QString path();

// A file inside it ("FactoryDefaults.plist", "borders", "drophere.svg").
QString pathFor(const QString& name);

// Tests point the program at a folder of their own; an empty string restores the default.
void setPathOverride(const QString& folder);

} // namespace Resources
