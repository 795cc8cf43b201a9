#include "ZTUtility.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr uint32_t kPlatformVersion = 0x1050;

std::mutex& cacheMutex()
{
    static std::mutex m;
    return m;
}
uint32_t& cache()
{
    static uint32_t value = 0;
    return value;
}
ZTUtility::VersionQuery& query()
{
    static ZTUtility::VersionQuery q;
    return q;
}

bool platformQuery(uint32_t* version)
{
    *version = kPlatformVersion;
    return true;
}

} // namespace

uint32_t GetSystemVersion()
{
    std::lock_guard lock(cacheMutex());
    if (cache() != 0)
        return cache();
    uint32_t answer = 0;
    const bool ok = query() ? query()(&answer) : platformQuery(&answer);
    cache() = ok ? answer : 0;
    return cache();
}

int32_t ZTUtility::systemVersion()
{
    return static_cast<int32_t>(GetSystemVersion());
}

void ZTUtility::setVersionQuery(VersionQuery q)
{
    std::lock_guard lock(cacheMutex());
    query() = std::move(q);
    cache() = 0;
}

uint32_t ZTUtility::packVersion(int major, int minor, int update)
{
    const auto digit = [](int v) { return static_cast<uint32_t>(std::clamp(v, 0, 9)); };
    const uint32_t high = static_cast<uint32_t>(std::clamp(major, 0, 99));
    return ((high / 10) << 12) | ((high % 10) << 8) | (digit(minor) << 4) | digit(update);
}
