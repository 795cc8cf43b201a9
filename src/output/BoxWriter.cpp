#include "output/BoxWriter.h"

#include <cstring>

void BoxWriter::text(const char* s, bool terminated)
{
    data.append(s, qsizetype(std::strlen(s)) + (terminated ? 1 : 0));
}

void BoxWriter::begin(const char* type, int version, int flags)
{
    _open.push_back(data.size());
    u32(0);
    text(type);
    if (version >= 0)
        u32((quint32(version) << 24) | quint32(flags));
}

void BoxWriter::end()
{
    const qsizetype at = _open.back();
    _open.pop_back();
    patch32(at, quint32(data.size() - at));
}

void BoxWriter::patch32(qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char(v >> (24 - 8 * i));
}
