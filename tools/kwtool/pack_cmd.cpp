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
#include <string_view>
#include <thread>
#include <vector>

#include "cli.h"

#include "commands.h"
#include "file_cli.h"
#include "file_io.h"
#include "pack_cmd.h"
#include "pack_format.h"

namespace kwtool {

namespace {

using namespace pack;

constexpr std::size_t kBatch = 4;  // blocks worked on together

constexpr std::string_view kPackSuffix = ".kwp";

// A name with something before the suffix: ".kwp" alone is no packed name.
bool has_pack_suffix(const std::string &name) {
    return name.size() > kPackSuffix.size() && name.compare(name.size() - kPackSuffix.size(), kPackSuffix.size(), kPackSuffix) == 0;
}

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

}  // namespace

stream_result pack_stream(const std::string &in_name, const std::string &out_name, unsigned threads, int level,
                          const write_options &opts) {
    if (level < 1 || level > 9) {
        fail(kExitBadInput, "the compression level is 1 to 9, not " + std::to_string(level));
    }
    input in(in_name);
    write_options w = opts;
    w.binary = true;
    output out(out_name, w, &in);
    progress bar(in.size());

    constexpr std::size_t kSlot = kBlockHeaderSize + kBlockSize;
    std::vector<unsigned char> src(kBatch * kBlockSize);
    std::vector<unsigned char> dst(kBatch * kSlot);
    std::array<std::size_t, kBatch> lens{};
    std::array<block_encoder, 2> encoders{block_encoder(level), block_encoder(level)};
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
    unsigned char tail[kBlockHeaderSize + kTrailerSize];
    encode_header(block_header{}, tail);
    encode_trailer(total, hash.digest(), tail + kBlockHeaderSize);
    out.write(tail, sizeof tail);
    bar.finish();
    out.commit();
    return {in.bytes_read(), out.bytes_written()};
}

stream_result unpack_stream(const std::string &in_name, const std::string &out_name, unsigned threads,
                            const write_options &opts, bool test_only) {
    input in(in_name);
    if (in.is_terminal() && !opts.force) {
        fail(kExitBadInput, located(in.name(), 0, "refusing to read packed data from a terminal (give a file, or -f)"));
    }
    std::optional<output> sink;
    if (test_only) {
        sink.emplace(output::discard_t{});
    } else {
        sink.emplace(out_name, opts, &in);
    }
    output &out = *sink;
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
    bar.finish();
    out.commit();
    return {in.bytes_read(), out.bytes_written()};
}

void add_pack_commands(CLI::App &app) {
    struct args {
        file_args files;
        unsigned threads = std::thread::hardware_concurrency() > 1 ? 2 : 1;
        int level = 1;
        bool test = false;
    };
    auto a = std::make_shared<args>();
    const auto threads = [a](CLI::App *cmd) {
        // No default shown: it depends on the machine, the manual must not.
        cmd->add_option("-j,--threads", a->threads, "threads, 1 or 2 (default: 2 on a machine with two cores or more)")
            ->check(CLI::Range(1u, 2u));
    };

    auto *p = app.add_subcommand("pack", "Compress a file or stream with RDC into the kwtool pack format");
    add_file_options(p, a->files, "file to pack, - for standard input", "packed file (default: IN.kwp), - for standard output",
                     kFileKeepRemove);
    threads(p);
    for (int level = 1; level <= 9; ++level) {
        const char *what = level == 1 ? "compression level 1: fastest (the default)"
                           : level == 9 ? "compression level 9: smallest output"
                                        : nullptr;
        const std::string help = what != nullptr ? what : "compression level " + std::to_string(level);
        p->add_flag_function("-" + std::to_string(level), [a, level](std::int64_t) { a->level = level; }, help);
    }
    p->footer("Without OUT a named IN is packed into IN.kwp. Memory use does not grow with the input's size.\n"
              "The format: " KWTOOL_DOCDIR "/pack-format.md where kwutil is installed.");
    p->callback([a] {
        const std::string out = choose_output(a->files, [](const std::string &in) {
            if (has_pack_suffix(in)) {
                fail(kExitBadInput, located(in, 0, "already ends in .kwp (give OUT, -o or -c to pack it again)"));
            }
            return in + std::string(kPackSuffix);
        });
        file_run run(a->files, out);
        const auto r = pack_stream(a->files.in, out, a->threads, a->level, writing(a->files, true, true));
        run.finish(r.in_bytes, r.out_bytes, "packed");
    });

    auto *u = app.add_subcommand("unpack", "Restore a file packed by kwtool pack, verifying every block and the checksum");
    add_file_options(u, a->files, "packed file, - for standard input",
                     "restored file (default: IN without .kwp), - for standard output", kFileKeepRemove);
    threads(u);
    u->add_flag("-t,--test", a->test, "check IN completely and write nothing (exit 2 on any damage)");
    u->footer("A damaged, truncated or foreign file is refused with exit status 2. A named OUT appears only\n"
              "when everything verified; standard output receives each block once its own check passed,\n"
              "so it may have received data before a late error (a truncated file or a bad checksum).");
    u->callback([a] {
        if (a->test) {
            if (a->files.to_stdout || !a->files.out_pos.empty() || !a->files.out_opt.empty() || a->files.remove_input) {
                fail(kExitBadInput, "-t checks and writes nothing: give no output and no --rm");
            }
            file_run run(a->files, "");
            const auto r = unpack_stream(a->files.in, "", a->threads, writing(a->files, false, false), true);
            run.finish(r.in_bytes, r.out_bytes, "verified");
            return;
        }
        const std::string out = choose_output(a->files, [](const std::string &in) {
            if (!has_pack_suffix(in)) {
                fail(kExitBadInput, located(in, 0, "does not end in .kwp: give the output name (OUT, -o or -c)"));
            }
            return in.substr(0, in.size() - kPackSuffix.size());
        });
        file_run run(a->files, out);
        const auto r = unpack_stream(a->files.in, out, a->threads, writing(a->files, false, true), false);
        run.finish(r.in_bytes, r.out_bytes, "unpacked");
    });
}

}  // namespace kwtool
