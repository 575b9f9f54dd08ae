// kwtool pack / unpack: streams of any size through RDC, one 65,535-byte
// block at a time, in the framed format of pack_format.h.
//
// Blocks are independent, so they are worked on in batches: with two
// threads the helper takes the second half of a batch while this thread does
// the first and hashes the content, then the batch is written in order.
// Memory stays at two batches of buffers whatever the stream's size.
#include <algorithm>
#include <array>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"

#include "commands.h"
#include "io.h"
#include "pack_cmd.h"
#include "pack_format.h"

namespace kwtool {

namespace {

using namespace pack;

constexpr std::size_t kBatch = 4;  // blocks worked on together

// A second thread that runs one job at a time. The caller starts a job,
// does its own share, then waits; the job's data are the caller's, and they
// outlive the job because wait() (or the destructor, which finishes a
// pending job before it joins) comes first.
class helper {
public:
    helper() : thread_([this] { loop(); }) {}
    ~helper() {
        {
            std::lock_guard<std::mutex> lock(m_);
            quit_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    helper(const helper &) = delete;
    helper &operator=(const helper &) = delete;

    void start(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(m_);
            job_ = std::move(job);
            pending_ = true;
        }
        cv_.notify_all();
    }

    void wait() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return !pending_; });
        if (error_) {
            std::rethrow_exception(std::exchange(error_, nullptr));
        }
    }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return pending_ || quit_; });
            if (!pending_) {
                return;
            }
            auto job = std::move(job_);
            lock.unlock();
            std::exception_ptr error;
            try {
                job();
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            error_ = error;
            pending_ = false;
            cv_.notify_all();
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::function<void()> job_;
    bool pending_ = false;
    bool quit_ = false;
    std::exception_ptr error_;
    std::thread thread_;  // last: it starts once the members above exist
};

// Run work(first, last) over [0, count): the upper half on the helper when
// there is one and more than one block.
template <class Work>
void split_work(std::optional<helper> &second, std::size_t count, Work &&work, const std::function<void()> &meanwhile) {
    if (second && count > 1) {
        const std::size_t half = count / 2;
        second->start([&work, half, count] { work(1, half, count); });
        try {
            work(0, 0, half);
            meanwhile();
        } catch (...) {
            // The job refers to this frame: let it finish before unwinding.
            try {
                second->wait();
            } catch (...) {
            }
            throw;
        }
        second->wait();
    } else {
        work(0, 0, count);
        meanwhile();
    }
}

void refuse_terminal(const output &out) {
    if (out.is_stdout() && stdout_is_terminal()) {
        fail(kExitBadInput, "refusing to write packed data to a terminal (give OUT, or redirect standard output)");
    }
}

}  // namespace

void pack_stream(const std::string &in_name, const std::string &out_name, unsigned threads) {
    input in(in_name);
    output out(out_name);
    refuse_terminal(out);
    progress bar(in.size());

    constexpr std::size_t kSlot = kBlockHeaderSize + kBlockSize;
    std::vector<unsigned char> src(kBatch * kBlockSize);
    std::vector<unsigned char> dst(kBatch * kSlot);
    std::array<std::size_t, kBatch> lens{};
    std::array<block_encoder, 2> encoders;
    content_hash hash;
    std::optional<helper> second;  // after the buffers: it finishes before they go
    if (threads > 1) {
        second.emplace();
    }

    unsigned char head[kFileHeaderSize];
    write_file_header(head);
    out.write(head, sizeof head);
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t n = in.read_full(src.data(), src.size());
        if (n == 0) {
            break;
        }
        const std::size_t blocks = (n + kBlockSize - 1) / kBlockSize;
        auto work = [&](std::size_t who, std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last; ++k) {
                const std::size_t size = std::min(kBlockSize, n - k * kBlockSize);
                lens[k] = encoders[who].encode(src.data() + k * kBlockSize, size, dst.data() + k * kSlot);
            }
        };
        split_work(second, blocks, work, [&] { hash.update(src.data(), n); });
        for (std::size_t k = 0; k < blocks; ++k) {
            out.write(dst.data() + k * kSlot, lens[k]);
        }
        total += n;
        bar.advance(n);
        if (n < src.size()) {
            break;
        }
    }
    in.close();  // OUT may be the same file
    unsigned char tail[kBlockHeaderSize + kTrailerSize];
    encode_header(block_header{}, tail);
    encode_trailer(total, hash.digest(), tail + kBlockHeaderSize);
    out.write(tail, sizeof tail);
    bar.finish();
    out.commit();
}

void unpack_stream(const std::string &in_name, const std::string &out_name, unsigned threads) {
    input in(in_name);
    output out(out_name);
    progress bar(in.size());
    const auto refuse = [&](const std::string &why) { fail(kExitBadInput, located(in.name(), 0, why)); };

    unsigned char head[kFileHeaderSize];
    const std::size_t got = in.read_full(head, sizeof head);
    if (got == 0) {
        refuse("empty, not a kwtool pack file");
    }
    if (auto why = check_file_header(head, got)) {
        refuse(*why);
    }

    std::vector<unsigned char> src(kBatch * kBlockSize);
    std::vector<unsigned char> dst(kBatch * kBlockSize);
    std::array<block_header, kBatch> headers{};
    std::array<std::uint64_t, kBatch> at{};
    std::array<std::optional<std::string>, kBatch> faults;
    content_hash hash;
    std::optional<helper> second;  // after the buffers: it finishes before they go
    if (threads > 1) {
        second.emplace();
    }

    std::uint64_t offset = kFileHeaderSize;
    std::uint64_t block_no = 0;
    std::uint64_t total = 0;
    const auto where = [&](std::uint64_t no, std::uint64_t pos) {
        return "block " + std::to_string(no + 1) + " (at byte " + std::to_string(pos) + "): ";
    };
    bool ended = false;
    while (!ended) {
        std::size_t count = 0;
        std::uint64_t consumed = 0;
        while (count < kBatch) {
            unsigned char bh[kBlockHeaderSize];
            const std::size_t g = in.read_full(bh, sizeof bh);
            if (g == 0) {
                refuse("truncated: the file ends before its end marker");
            }
            if (g < sizeof bh) {
                refuse("truncated: the file ends inside a block header");
            }
            const block_header h = decode_header(bh);
            if (h.kind == kKindEnd) {
                if (h.size != 0 || h.stored != 0 || h.check != 0) {
                    refuse("damaged end marker");
                }
                ended = true;
                break;
            }
            if (auto why = validate_header(h)) {
                refuse(where(block_no + count, offset) + *why);
            }
            if (in.read_full(src.data() + count * kBlockSize, h.stored) < h.stored) {
                refuse("truncated: the file ends inside block " + std::to_string(block_no + count + 1));
            }
            headers[count] = h;
            at[count] = offset;
            offset += kBlockHeaderSize + h.stored;
            consumed += kBlockHeaderSize + h.stored;
            ++count;
        }
        auto work = [&](std::size_t, std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last; ++k) {
                faults[k] = decode_block(headers[k], src.data() + k * kBlockSize, dst.data() + k * kBlockSize);
            }
        };
        split_work(second, count, work, [] {});
        for (std::size_t k = 0; k < count; ++k) {
            if (faults[k]) {
                refuse(where(block_no + k, at[k]) + *faults[k]);
            }
            hash.update(dst.data() + k * kBlockSize, headers[k].size);
            out.write(dst.data() + k * kBlockSize, headers[k].size);
            total += headers[k].size;
        }
        block_no += count;
        bar.advance(consumed);
    }

    unsigned char trailer[kTrailerSize];
    if (in.read_full(trailer, sizeof trailer) < sizeof trailer) {
        refuse("truncated: the file ends inside its end marker");
    }
    std::uint64_t length = 0;
    std::uint64_t checksum = 0;
    decode_trailer(trailer, length, checksum);
    if (length != total) {
        refuse("damaged: the end marker records " + std::to_string(length) + " bytes of content, the blocks hold " +
               std::to_string(total));
    }
    if (checksum != hash.digest()) {
        refuse("damaged: the content does not match its checksum");
    }
    unsigned char extra = 0;
    if (in.read_full(&extra, 1) != 0) {
        refuse("unexpected data after the end marker");
    }
    in.close();  // OUT may be the same file
    bar.finish();
    out.commit();
}

void add_pack_commands(CLI::App &app) {
    struct args {
        std::string in = "-";
        std::string out = "-";
        unsigned threads = std::thread::hardware_concurrency() > 1 ? 2 : 1;
    };
    auto a = std::make_shared<args>();
    const auto common = [a](CLI::App *cmd, const char *in_help, const char *out_help) {
        cmd->add_option("IN", a->in, in_help)->capture_default_str();
        cmd->add_option("OUT", a->out, out_help)->capture_default_str();
        cmd->add_option("-j,--threads", a->threads, "threads (1 or 2)")
            ->check(CLI::Range(1u, 2u))
            ->capture_default_str();
    };

    auto *p = app.add_subcommand("pack", "Compress a file or stream with RDC into the kwtool pack format");
    common(p, "file to pack, - for standard input", "packed file, - for standard output");
    p->footer("See docs/pack-format.md. Memory use does not grow with the input's size.");
    p->callback([a] { pack_stream(a->in, a->out, a->threads); });

    auto *u = app.add_subcommand("unpack", "Restore a file packed by kwtool pack, verifying every block and the checksum");
    common(u, "packed file, - for standard input", "restored file, - for standard output");
    u->footer("A damaged, truncated or foreign file is refused with exit status 2. A named OUT appears only\n"
              "when everything verified; standard output receives each block once its own check passed,\n"
              "so it may have received data before a late error (a truncated file or a bad checksum).");
    u->callback([a] { unpack_stream(a->in, a->out, a->threads); });
}

}  // namespace kwtool
