#include "output/JpegBandReader.h"

#include "foundation/Logging.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

// Between each setjmp below and libjpeg's error exit lie only plain C frames (libjpeg's own
// and the two callbacks); no object with a destructor lives in them.
// The error manager comes first: libjpeg's callbacks find the state through it.
struct JpegBandReader::State {
    jpeg_error_mgr err = {};
    jpeg_decompress_struct info = {};
    std::jmp_buf jump;
    std::FILE* file = nullptr;
    bool created = false;
};

namespace {

[[noreturn]] void errorExit(j_common_ptr info)
{
    char text[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, text);
    qCDebug(lcVelluma, "JPEG read in bands stopped: %s", text);
    auto* state = reinterpret_cast<JpegBandReader::State*>(info->err);
    std::longjmp(state->jump, 1);
}

// Warnings are counted (a damaged file reads whole instead), not printed.
void emitMessage(j_common_ptr info, int level)
{
    if (level < 0)
        ++info->err->num_warnings;
}

bool openHeader(JpegBandReader::State* s)
{
    if (setjmp(s->jump))
        return false;
    jpeg_create_decompress(&s->info);
    s->created = true;
    jpeg_stdio_src(&s->info, s->file);
    if (jpeg_read_header(&s->info, TRUE) != JPEG_HEADER_OK || s->info.num_components != 3 ||
        (s->info.jpeg_color_space != JCS_YCbCr && s->info.jpeg_color_space != JCS_RGB))
        return false;
    s->info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_start_decompress(&s->info);
    return s->info.err->num_warnings == 0 && s->info.output_components == 4;
}

bool readScanlines(JpegBandReader::State* s, unsigned char* const* rows, int count)
{
    if (setjmp(s->jump))
        return false;
    int done = 0;
    while (done < count) {
        const JDIMENSION got = jpeg_read_scanlines(&s->info, const_cast<JSAMPARRAY>(rows + done),
                                                   JDIMENSION(count - done));
        if (got == 0 || s->info.err->num_warnings != 0)
            return false;
        done += int(got);
    }
    return true;
}

} // namespace

JpegBandReader::JpegBandReader(const QString& path) : _state(std::make_unique<State>())
{
    State* s = _state.get();
    s->info.err = jpeg_std_error(&s->err);
    s->err.error_exit = errorExit;
    s->err.emit_message = emitMessage;
    // Only a regular file: opening a FIFO would wait for a writer that never comes. Asked
    // before opening, so that a FIFO is never touched, and again of what was opened.
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    const int fd = ::stat(native.constData(), &st) == 0 && S_ISREG(st.st_mode)
                       ? ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                       : -1;
    if (fd >= 0 &&
        (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !(s->file = ::fdopen(fd, "rb"))))
        ::close(fd);
    if (!s->file || !openHeader(s)) {
        close();
        return;
    }
    _size = QSize(int(s->info.output_width), int(s->info.output_height));
}

JpegBandReader::~JpegBandReader()
{
    close();
}

void JpegBandReader::close()
{
    if (!_state)
        return;
    if (_state->created)
        jpeg_destroy_decompress(&_state->info);
    if (_state->file)
        std::fclose(_state->file);
    _state.reset();
}

bool JpegBandReader::read(unsigned char* const* rows, int count)
{
    if (!_state || count < 0 || _nextRow + count > _size.height() ||
        !readScanlines(_state.get(), rows, count)) {
        close();
        return false;
    }
    _nextRow += count;
    return true;
}

bool JpegBandReader::readRows(QImage* rows, int count)
{
    if (!_state)
        return false;
    if (rows->format() != QImage::Format_RGB32 || rows->width() != _size.width() ||
        rows->height() < count)
        *rows = QImage(_size.width(), count, QImage::Format_RGB32);
    if (rows->isNull()) {
        close();
        return false;
    }
    std::vector<unsigned char*> pointers(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        pointers[size_t(i)] = rows->scanLine(i);
    return read(pointers.data(), count);
}

bool JpegBandReader::skipRows(int count)
{
    // Read and dropped rather than jpeg_skip_scanlines: the rows after the skipped ones
    // come out exactly as in a full read.
    if (!_state)
        return false;
    std::vector<unsigned char> row(size_t(_size.width()) * 4);
    unsigned char* pointer = row.data();
    for (int i = 0; i < count; ++i)
        if (!read(&pointer, 1))
            return false;
    return true;
}
