#include "record/loginput.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <zlib.h>

namespace kora {

// Inflates a gzip file, its members one after another as gzip itself reads
// them, into a window of bytes a reader takes from. Seeking forward reads on;
// seeking back starts again from the file's beginning, which a reader of a
// compressed rotation does once per pass, not per row.
class GzipBuffer : public std::streambuf
{
public:
    explicit GzipBuffer(std::filebuf& file) : file_(file) { restart(); }
    ~GzipBuffer() override { inflateEnd(&z_); }
    GzipBuffer(const GzipBuffer&) = delete;
    GzipBuffer& operator=(const GzipBuffer&) = delete;

    const std::string& damage() const { return damage_; }

protected:
    int_type underflow() override
    {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        outBefore_ += static_cast<std::uint64_t>(egptr() - eback());
        const std::size_t got = fill();
        setg(out_.data(), out_.data(), out_.data() + got);
        return got ? traits_type::to_int_type(out_[0]) : traits_type::eof();
    }

    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override
    {
        if (dir == std::ios_base::cur)
            return seekpos(position() + static_cast<std::uint64_t>(off), which);
        if (dir == std::ios_base::beg && off >= 0)
            return seekpos(static_cast<std::uint64_t>(off), which);
        return pos_type(off_type(-1)); // the end is not known before it is read
    }

    pos_type seekpos(pos_type to, std::ios_base::openmode) override
    {
        const auto target = static_cast<std::uint64_t>(off_type(to));
        if (target < outBefore_)
            restart();
        while (target > outBefore_ + static_cast<std::uint64_t>(egptr() - eback())) {
            setg(eback(), egptr(), egptr());
            if (underflow() == traits_type::eof())
                return pos_type(off_type(-1));
        }
        setg(eback(), eback() + (target - outBefore_), egptr());
        return to;
    }

private:
    std::uint64_t position() const
    {
        return outBefore_ + static_cast<std::uint64_t>(gptr() - eback());
    }

    void restart()
    {
        if (started_)
            inflateEnd(&z_);
        z_ = z_stream{};
        inflateInit2(&z_, 15 + 16); // a gzip header and trailer around the data
        started_ = true;
        file_.pubseekpos(0, std::ios_base::in);
        z_.avail_in = 0;
        ended_ = false;
        outBefore_ = 0;
        setg(out_.data(), out_.data(), out_.data());
    }

    bool readMore()
    {
        const auto got = file_.sgetn(reinterpret_cast<char*>(in_.data()),
                                     static_cast<std::streamsize>(in_.size()));
        z_.next_in = in_.data();
        z_.avail_in = got > 0 ? static_cast<uInt>(got) : 0;
        return got > 0;
    }

    void fail(const char* why)
    {
        damage_ = std::string("the compressed data is damaged: ") + why;
        ended_ = true;
    }

    // Up to a window of bytes; 0 at the end of the data, or where it is damaged.
    std::size_t fill()
    {
        z_.next_out = reinterpret_cast<Bytef*>(out_.data());
        z_.avail_out = static_cast<uInt>(out_.size());
        while (!ended_ && z_.avail_out == out_.size()) {
            if (z_.avail_in == 0 && !readMore()) {
                if (!memberEnded_) // a file cut short, by a crash or a full disk
                    fail("it ends short");
                ended_ = true;
                break;
            }
            memberEnded_ = false;
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                memberEnded_ = true;
                inflateReset(&z_); // another member may follow, as gzip allows
            } else if (result != Z_OK && result != Z_BUF_ERROR) {
                fail(z_.msg ? z_.msg : "it cannot be inflated");
            }
        }
        return out_.size() - z_.avail_out;
    }

    std::filebuf& file_;
    z_stream z_{};
    bool started_ = false, ended_ = false, memberEnded_ = false;
    std::string damage_;
    std::uint64_t outBefore_ = 0; // bytes inflated before the window
    std::array<unsigned char, 64 * 1024> in_{};
    std::array<char, 256 * 1024> out_{};
};

bool IsGzipMagic(const unsigned char* bytes, std::size_t size)
{
    return size >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B;
}

LogInput::LogInput(const std::string& path) : stream_(&file_)
{
    errno = 0;
    if (!file_.open(path, std::ios::in | std::ios::binary)) {
        openError_ = errno ? std::strerror(errno) : "it cannot be opened";
        return;
    }
    // Peeked at, not read: a FIFO cannot be read again from its start.
    using Traits = std::filebuf::traits_type;
    const auto first = file_.sbumpc();
    const auto second = file_.sgetc();
    if (first != Traits::eof())
        file_.sungetc();
    const unsigned char magic[2] = {static_cast<unsigned char>(first),
                                    static_cast<unsigned char>(second)};
    if (first != Traits::eof() && second != Traits::eof() && IsGzipMagic(magic, 2)) {
        gzip_ = std::make_unique<GzipBuffer>(file_);
        stream_.rdbuf(gzip_.get());
    }
}

LogInput::~LogInput() = default;

std::string LogInput::damage() const
{
    return gzip_ ? gzip_->damage() : std::string();
}

} // namespace kora
