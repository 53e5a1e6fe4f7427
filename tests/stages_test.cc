// The stages of the pipeline fed in this process, as the driver and the
// source feed them: the line finder given a page in stretches of any size,
// and the decoders given compressed bytes a few at a time.  Here a test
// chooses where each stretch ends, which the program's own reads, always as
// large as the block allows, never do.

#include "checks.h"
#include "decoders.h"
#include "formats.h"
#include "line_finder.h"
#include "messages.h"
#include "output.h"
#include "passes.h"
#include "run_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// What is left to read of `stream`.
std::string drain(std::FILE *stream)
{
    std::string bytes;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        bytes.append(chunk, n);
    return bytes;
}

TEST(LineFinder, SameLinesWhateverStretchesThePageComesIn)
{
    // Lines cut by a stretch's end anywhere: clean ones of many lengths, bad
    // ones, lines that a NUL ends early, a comment longer than the block, a
    // line of the longest length, and a last line without a line feed.
    std::string page;
    for (int i = 0; i < 600; ++i) {
        std::string run(static_cast<std::size_t>(i * 37 % 300), static_cast<char>('a' + i % 26));
        page += i % 4 == 0 ? ".B \"" + run + "\n" : i % 4 == 1 ? run + "\\(\n" : "x(" + run + "\n";
    }
    page += ".\\\" " + std::string(100 * 1000, 'c') + "\n";
    page += "s" + std::string(1, '\0') + std::string(60 * 1000, 'd') + "\\(\n";
    page += std::string(3998, 'm') + "\n" + "last\\(";
    const struct {
        Pass pass;
        CheckedLines checked;
        const char *what;
    } passes[] = {{Pass::kChecking, CheckedLines::kThoseThatMayFail, "checking pass"},
                  {Pass::kChecking, CheckedLines::kEvery, "checking pass, every line"},
                  {Pass::kOutput, CheckedLines::kThoseThatMayFail, "output pass"}};
    for (const auto &pass : passes) {
        PassTaken whole = take_page(page, pass.pass, pass.checked, page.size());
        EXPECT_TRUE(whole.whole);
        EXPECT_EQ(whole.lines, 600U + 4);
        for (std::size_t stretch : {1, 63, 64, 65, 3999, 4001, 40000}) {
            SCOPED_TRACE(std::string(pass.what) + ", stretches of " + std::to_string(stretch));
            EXPECT_TRUE(take_page(page, pass.pass, pass.checked, stretch) == whole);
        }
    }
}

// A process may run the program twice, as the fuzzer and the replay do:
// a run after one whose output failed starts afresh.
TEST(Gate, RunAfterAFailedWriteStartsAfresh)
{
    static char page[] = "Hello\n";
    std::FILE *input = fmemopen(page, sizeof page - 1, "r");
    std::FILE *full = std::fopen("/dev/full", "w");
    ASSERT_NE(input, nullptr);
    ASSERT_NE(full, nullptr);
    std::FILE *real_stdout = stdout, *real_stderr = stderr, *messages = std::tmpfile();
    stdout = full;
    stderr = messages;
    int status = translate_document(input, "page");
    stdout = real_stdout;
    stderr = real_stderr;
    std::fclose(input);
    std::fclose(full);
    std::rewind(messages);
    EXPECT_EQ(drain(messages), "Couldn't write output: No space left on device\n");
    std::fclose(messages);
    EXPECT_EQ(status, 1);
    std::string script;
    EXPECT_EQ(check_document(reinterpret_cast<const std::uint8_t *>(page), sizeof page - 1, &status, &script), "");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(script, "text Hello\nnewline\n");
}

TEST(LineFinder, LongLineIsCaughtWhereverItStarts)
{
    // A clean line too long to pass, after a line that moves its start
    // through every offset of a 64-byte chunk, ends the run there.
    for (int offset = 0; offset < 64; ++offset) {
        std::string page = std::string(static_cast<std::size_t>(offset), 'p') + "\n" +
                           std::string(3999, 'q') + "\n\\(\n";
        for (CheckedLines checked : {CheckedLines::kThoseThatMayFail, CheckedLines::kEvery}) {
            SCOPED_TRACE("offset " + std::to_string(offset) +
                         (checked == CheckedLines::kEvery ? ", every line" : ""));
            PassTaken taken = take_page(page, Pass::kChecking, checked, page.size());
            EXPECT_FALSE(taken.whole);
            EXPECT_EQ(taken.messages, "Too long line. Max is 3999 chars.\n");
        }
    }
}

// Feeds `data` to a decoder `step` bytes at a time, as the source feeds it:
// the bytes not consumed are handed again with more behind them.  Returns
// the page, or the reason the data was refused, after "refused: ".
std::string decode_in_steps(Compression kind, const std::string &data, std::size_t step)
{
    const char *reason = nullptr;
    if (!start_decoding(kind, &reason))
        return std::string("refused: ") + reason;
    std::string pending, page;
    std::size_t next = 0;
    for (;;) {
        bool ended = next == data.size();
        char out[4096];
        std::size_t consumed = 0, produced = 0;
        DecodeStatus status =
            decode(reinterpret_cast<const unsigned char *>(pending.data()), pending.size(), ended, out,
                   sizeof out, &consumed, &produced, &reason);
        pending.erase(0, consumed);
        page.append(out, produced);
        if (status == DecodeStatus::kFinished)
            break;
        if (status == DecodeStatus::kFailed || (consumed == 0 && produced == 0 && ended)) {
            page = std::string("refused: ") + (status == DecodeStatus::kFailed ? reason : "corrupt compressed data");
            break;
        }
        if ((consumed == 0 && produced == 0) || pending.empty()) {
            std::size_t count = std::min(step, data.size() - next);
            pending.append(data, next, count);
            next += count;
        }
    }
    end_decoding();
    return page;
}

// What the command line `command` writes.
std::string output_of(const std::string &command)
{
    std::FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        std::abort();
    std::string bytes = drain(pipe);
    pclose(pipe);
    return bytes;
}

TEST(Decoders, FedAByteAtATimeGiveTheWholePage)
{
    // Two members or streams joined, so that the header of the second
    // arrives a byte at a time too; lzma data is a single stream.
    std::FILE *file = std::fopen(EXAMPLE_PAGE, "r");
    ASSERT_NE(file, nullptr);
    const std::string page = drain(file);
    std::fclose(file);
    ASSERT_FALSE(page.empty());
    struct Format {
        const char *command;
        Compression kind;
        int copies;
    } const formats[] = {{"gzip -c", Compression::kGzip, 2},
                         {"bzip2 -c", Compression::kBzip2, 2},
                         {"xz -c", Compression::kXz, 2},
                         {"xz --format=lzma -c", Compression::kLzma, 1}};
    std::string missing;   // compressors this machine lacks, as compressed.sh skips them
    for (const Format &format : formats) {
        SCOPED_TRACE(format.command);
        std::string one = output_of(std::string(format.command) + " < " EXAMPLE_PAGE " 2>/dev/null");
        if (one.empty()) {
            missing += std::string(" ") + format.command;
            continue;
        }
        std::string data = format.copies == 2 ? one + one : one;
        std::string expected = format.copies == 2 ? page + page : page;
        for (std::size_t step : {std::size_t{1}, std::size_t{5}, data.size()})
            EXPECT_EQ(decode_in_steps(format.kind, data, step), expected) << "steps of " << step;
    }
    if (!missing.empty())
        GTEST_SKIP() << "not here:" << missing;
}

TEST(Formats, EachIsToldByTheLeastOfItsHeaderThatSaysSo)
{
    // At each bound of what a header may hold, the bytes are compressed
    // data, cut short when nothing follows, or of a format not read, or
    // text.
    struct Header {
        std::string bytes;
        const char *said;
    } const headers[] = {
        {std::string("BZh1\061\101\131\046\123\131", 10), "truncated bzip2 data"},
        {std::string("BZh9\027\162\105\070\120\220", 10), "truncated bzip2 data"},
        {std::string("\3757zXZ\000", 6), "truncated xz data"},
        {std::string("\135\000\000\200\000\377\377\377\377\077\000\000\000", 13), "truncated lzma data"},
        {std::string("\135\000\000\200\000\000\000\000\000\100\000\000\000", 13), "text"},
        {std::string("\050\265\057\375", 4), "zstd-compressed data is not supported"},
        {std::string("LZIP\001", 5), "lzip-compressed data is not supported"},
        {std::string("\037\235\211", 3), "compress (.Z) data is not supported"},
        {std::string("\037\235\220", 3), "compress (.Z) data is not supported"},
        {std::string("\037\235\221", 3), "text"},
        {std::string("\037\235\250", 3), "text"},
        {std::string("\037\213\010\000", 4), "truncated gzip data"},
        {std::string("\037\213\010\040", 4), "text"},   // a reserved flag set
        {std::string("\037\213\010\200", 4), "text"},
    };
    for (const Header &header : headers) {
        SCOPED_TRACE(header.said);
        const char *unsupported = nullptr;
        Compression kind = recognise_compression(reinterpret_cast<const unsigned char *>(header.bytes.data()),
                                                 header.bytes.size(), &unsupported);
        std::string said = kind == Compression::kNone          ? "text"
                            : kind == Compression::kUnsupported ? unsupported
                                                                : decode_in_steps(kind, header.bytes, 16);
        EXPECT_EQ(said, std::string(header.said).find("truncated") == 0 ? std::string("refused: ") + header.said
                                                                       : std::string(header.said));
    }
}

}  // namespace
