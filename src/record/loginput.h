#pragma once

#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <string>

namespace kora {

class GzipBuffer;

// A log file opened for reading, as written or compressed by gzip (as
// logrotate leaves its older rotations), read as one stream either way. A
// compressed file is told by its first two bytes, 1F 8B, whatever its name:
// a rotation renamed by hand, or a name without ".gz", reads all the same.
// Memory stays bounded whatever the file holds: the reader's own limits on
// a row apply to the bytes that come out.
class LogInput
{
public:
    explicit LogInput(const std::string& path);
    ~LogInput();
    LogInput(const LogInput&) = delete;
    LogInput& operator=(const LogInput&) = delete;

    bool isOpen() const { return file_.is_open(); }
    // Why the file could not be opened, as the system says it.
    const std::string& openError() const { return openError_; }
    bool compressed() const { return gzip_ != nullptr; }
    std::istream& stream() { return stream_; }
    // Why the compressed data stopped before its end ("the compressed data
    // is damaged: ..."), once the stream's end was read; empty when it did
    // not, or the file is not compressed.
    std::string damage() const;

private:
    std::filebuf file_;
    std::unique_ptr<GzipBuffer> gzip_;
    std::istream stream_;
    std::string openError_;
};

// Whether these are the first bytes of a gzip file.
bool IsGzipMagic(const unsigned char* bytes, std::size_t size);

} // namespace kora
