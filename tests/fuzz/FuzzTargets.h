#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// The functions the fuzzers drive, one per harness; the regression test replays every input
// that ever made one of them fail through the same functions, so a fix stays fixed. Each
// returns normally on any input: a fault shows as a crash or a sanitizer report, a broken
// promise of the code under test (a written file that cannot be read back, a band that
// differs from the whole composite) aborts.
namespace FuzzTargets {

// The fuzzer executables are fuzz_<name>; the inputs kept are in tests/data/fuzz/<name>/.
QStringList names();

// Calls the harness of that name; false when there is none.
bool run(const QString& name, const uint8_t* data, size_t size);

} // namespace FuzzTargets
