#pragma once

#include <cstdint>
#include <functional>

// The running system's version, packed one decimal digit per 4-bit group (10.5.8 is
// 0x1058). The program uses it to decide what the platform offers: the photo browser and
// the update feed need 0x1050 or later. Every platform we run on has what those need, so
// the default query reports 0x1050.
uint32_t GetSystemVersion();

class ZTUtility {
public:
    ZTUtility() = delete;

    // The same computation as GetSystemVersion, shared cache included.
    static int32_t systemVersion();

    // Answers the packed version through its argument; false when the query failed.
    using VersionQuery = std::function<bool(uint32_t* version)>;

    // Replaces the platform query (tests pretend to run on 10.4.11 or 10.5.8) and empties
    // the cache. An empty function restores the platform's.
    static void setVersionQuery(VersionQuery query);

    // Packs major.minor.update; digits above 9 are clamped as the old query did (10.4.11
    // is 0x1049).
    static uint32_t packVersion(int major, int minor, int update);
};
