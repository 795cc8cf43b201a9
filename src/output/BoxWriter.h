#pragma once

#include <QByteArray>

#include <vector>

// ISO media boxes, big-endian, written into `data`; a box's size is filled in when it ends.
class BoxWriter {
public:
    QByteArray data;
    void u8(int v) { data.append(char(v)); }
    void u16(int v) { u8(v >> 8), u8(v); }
    void u32(quint32 v) { u16(int(v >> 16)), u16(int(v & 0xFFFF)); }
    void text(const char* s, bool terminated = false);
    // A full box when version is 0 or more.
    void begin(const char* type, int version = -1, int flags = 0);
    void end();
    void patch32(qsizetype at, quint32 v);

private:
    std::vector<qsizetype> _open;
};
