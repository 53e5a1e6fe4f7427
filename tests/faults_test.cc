// The command line, and input and output that are not plain files: pipes,
// FIFOs, terminals, directories, a full disk, closed and broken streams, the
// temporary copy that input without a position needs, output into the
// input, and input that changes while it is read.

#include "program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <csignal>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kSample[] = "Hello\n\\(em\n";
const char kSampleScript[] = "text Hello\nnewline\nchar {\\(em}\nnewline\n";

void expect_outcome(const Outcome &got, const std::string &out, const std::string &err, int status)
{
    EXPECT_EQ(got.out, out);
    EXPECT_EQ(got.err, err);
    EXPECT_EQ(got.status, status);
}

// Runs the program with the Nth call it makes to `call` failing with `error`.
Outcome run_with_failing_call(Invocation run, const std::string &call, int number, int error)
{
    run.environment.push_back("FAIL_CALL=" + call + ":" + std::to_string(number) + ":" + std::to_string(error));
    run.environment.push_back("LD_PRELOAD=" FAILING_CALL_LIBRARY);
    run.environment.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
    return run_roffscript(run);
}

// A bad command line, or input that cannot be read at all.
TEST(CommandLine, BadCommandLineOrUnreadableInputWritesNothing)
{
    Invocation two_arguments, missing, directory_named, directory_on_input;
    two_arguments.args = {"a", "b"};
    two_arguments.input = kSample;
    missing.args = {"no/such file"};
    directory_named.args = {"/"};
    directory_on_input.stdin_path = "/";
    const struct {
        const Invocation *run;
        const char *err;
    } rows[] = {
        {&two_arguments, "Usage: roffscript ?fileName?\n"},
        {&missing, "Couldn't read \"no/such file\": No such file or directory\n"},
        {&directory_named, "Couldn't read \"/\": Is a directory\n"},
        {&directory_on_input, "Couldn't read \"-\": Is a directory\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.err);
        expect_outcome(run_roffscript(*row.run), "", row.err, 1);
    }
}

// A disk that fails a read, or a file system that cannot say where a file
// stands or go back there: whichever pass meets it, the run says why and
// writes nothing.
TEST(ReadErrors, FailedCallOnTheInputWritesNothing)
{
    TempFile small(kSample);
    TempFile large(std::string(100 * 1000, '.') + "\n");
    // Numbers shrink little: the compressed page takes several reads.
    TempFile gzipped("");
    std::FILE *gzip = popen(("gzip -c >" + gzipped.path).c_str(), "w");
    ASSERT_NE(gzip, nullptr);
    for (int i = 0; i < 100000; ++i)
        std::fprintf(gzip, "%d\n", i * 7919);
    ASSERT_EQ(pclose(gzip), 0);
    const struct {
        const TempFile *file;
        const char *call;
        int number;
    } failures[] = {
        {&small, "fstat", 1},     // before anything is read
        {&small, "fgetpos", 1},   // where the checking pass starts
        {&small, "fread", 1},     // the first block, which says whether the input is compressed
        {&large, "fread", 2},     // a block in the middle of the checking pass
        {&small, "fsetpos", 1},   // back to where the checking pass started
        {&small, "fread", 2},     // the output pass's read
        {&gzipped, "fread", 2},   // compressed data after the first block
    };
    for (const auto &failure : failures) {
        SCOPED_TRACE(std::string(failure.call) + " call " + std::to_string(failure.number));
        Invocation run;
        run.args = {failure.file->path};
        expect_outcome(run_with_failing_call(run, failure.call, failure.number, EIO), "",
                       "Couldn't read \"" + failure.file->path + "\": Input/output error\n", 1);
    }
    // Without a secret of its own the hash could be matched by a page made
    // for it in advance, and the run could not vouch for its bytes: where
    // the kernel refuses getrandom the secret comes from /dev/urandom, and
    // only without either does the run fail.
    Invocation run;
    run.args = {small.path};
    expect_outcome(run_with_failing_call(run, "getrandom", 1, ENOSYS), kSampleScript, "", 0);
    run.environment = {"FAIL_CALL=getrandom:1:" + std::to_string(EPERM) + ",open:1:" + std::to_string(ENOENT),
                       "LD_PRELOAD=" FAILING_CALL_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"};
    expect_outcome(run_roffscript(run), "",
                   "Couldn't read \"" + small.path + "\": no random secret to hash it with: No such file or directory\n",
                   1);
}

std::string contents_of(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// A page whose script is several of the output gate's blocks.
std::string long_script_page()
{
    std::string page;
    while (page.size() < 200 * 1000)
        page += kSample;
    return page;
}

// A short script fails at its one write, a long one held aside as it is
// handed on at the end.  Into a regular file, a long one is written as it
// goes, and when the file can take no more the run must say why and leave
// the file as it was.
TEST(WriteErrors, FullDiskIsAFailure)
{
    for (const std::string &page : {std::string(kSample), long_script_page()}) {
        Invocation run;
        run.input = page;
        run.stdout_path = "/dev/full";
        expect_outcome(run_roffscript(run), "", "Couldn't write output: No space left on device\n", 1);
    }
    TempFile page(long_script_page()), output("kept\n");
    Invocation run;
    run.args = {page.path};
    run.stdout_path = output.path;
    run.stdout_at_end = true;
    run.max_file_size = 100 * 1000;
    run.ignore_sigxfsz = true;
    expect_outcome(run_roffscript(run), "", "Couldn't write output: File too large\n", 1);
    EXPECT_EQ(contents_of(output.path), "kept\n");
}

// A file opened to append cannot be cut back, nor take the kernel's copy:
// a long script is held, and handed on through the program's own block.
TEST(Output, LongScriptAppendedToAFileIsHandedOnWhole)
{
    TempFile page(long_script_page()), output("kept\n");
    Invocation piped;
    piped.args = {page.path};
    Outcome expected = run_roffscript(piped);
    ASSERT_EQ(expected.status, 0);
    Invocation appended = piped;
    appended.stdout_path = output.path;
    appended.stdout_append = true;
    expect_outcome(run_roffscript(appended), "", "", 0);
    EXPECT_TRUE(contents_of(output.path) == "kept\n" + expected.out) << "the appended script differs";
}

TEST(WriteErrors, ClosedStandardOutputIsAFailure)
{
    // Through a pipe the input needs a temporary copy, and a named file is
    // opened: either would otherwise take the closed descriptor.
    TempFile file(kSample);
    Invocation piped;
    piped.input = kSample;
    piped.close_stdout = true;
    Invocation named;
    named.args = {file.path};
    named.close_stdout = true;
    for (const Invocation *run : {&piped, &named})
        expect_outcome(run_roffscript(*run), "", "Couldn't write output: Bad file descriptor\n", 1);
}

TEST(WriteErrors, BrokenPipeWithSigpipeIgnored)
{
    Invocation run;
    run.input = kSample;
    run.stdout_reader_gone = true;
    run.ignore_sigpipe = true;
    expect_outcome(run_roffscript(run), "", "Couldn't write output: Broken pipe\n", 1);
}

TEST(Pipes, FifoNamedOnTheCommandLine)
{
    std::string path = "/tmp/roffscript-fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::thread writer([&path] {
        if (std::FILE *fifo = std::fopen(path.c_str(), "w")) {
            std::fputs(kSample, fifo);
            std::fclose(fifo);
        }
    });
    Invocation run;
    run.args = {path};
    Outcome got = run_roffscript(run);
    writer.join();
    unlink(path.c_str());
    expect_outcome(got, kSampleScript, "", 0);
}

// Standard input from a file is read twice from where it stands, not from
// the start of the file, or the output pass would write lines that were
// never checked.
TEST(Pipes, StandardInputFromAFileStartsWhereItStands)
{
    TempFile file(std::string("\\(e\n") + kSample);
    for (long offset : {0L, 4L}) {
        Invocation run;
        run.stdin_path = file.path;
        run.stdin_offset = offset;
        if (offset == 0)
            expect_outcome(run_roffscript(run), "", "Bad \\( sequence on line 1.\n", 1);
        else
            expect_outcome(run_roffscript(run), kSampleScript, "", 0);
    }
}

// A page larger than the block that the copy of piped or compressed input
// is kept in while it fits (kSpoolBlockSize, 32 KiB), so that its copy
// goes to a temporary file; and its script.
const int kSamplesPastTheCopyBlock = 40 * 1000 / (sizeof kSample - 1);
std::string repeated(const char *text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}
const std::string kLargeSample = repeated(kSample, kSamplesPastTheCopyBlock);
const std::string kLargeSampleScript = repeated(kSampleScript, kSamplesPastTheCopyBlock);

// A temporary file holds a piped page larger than the copy's block, and a
// script longer than the output gate's block: where none can be made or
// written, the run says so and writes nothing.  A small page, and a short
// script, need none.
TEST(Pipes, NowhereForTheTemporaryFiles)
{
    TempFile long_script(long_script_page());
    Invocation piped, named;
    piped.input = kLargeSample;
    named.args = {long_script.path};
    for (Invocation *run : {&piped, &named}) {
        SCOPED_TRACE(run == &piped ? "a piped page" : "a long script");
        run->read_only_tmp = true;
        Outcome got = run_roffscript(*run);
        if (got.status == kNoNamespace)
            GTEST_SKIP() << "no mount namespace for a read-only /tmp here";
        expect_outcome(got, "", "Couldn't create temporary file: Read-only file system\n", 1);
        run->read_only_tmp = false;
        run->max_file_size = 0;
        run->ignore_sigxfsz = true;
        expect_outcome(run_roffscript(*run), "", "Couldn't write temporary file: File too large\n", 1);
    }
    // A script within the block needs no temporary file, even where its
    // last line asks for more room than the block has left: a NUL leaves
    // the longest macro line one short word.
    std::string page;
    for (int i = 0; i < 330; ++i)
        page += "hello world line " + std::to_string(i) + "\n";
    page += std::string(".B\0", 3) + std::string(3990, 'x') + "\n";
    TempFile short_script(page);
    Invocation run;
    run.args = {short_script.path};
    Outcome expected = run_roffscript(run);
    ASSERT_EQ(expected.status, 0);
    run.environment = {"TMPDIR=/no/such/folder"};
    expect_outcome(run_roffscript(run), expected.out, "", 0);
    Invocation small;
    small.input = kSample;
    small.environment = {"TMPDIR=/no/such/folder"};
    expect_outcome(run_roffscript(small), kSampleScript, "", 0);
}

int entries_in(const char *folder)
{
    DIR *dir = opendir(folder);
    int entries = 0;
    while (readdir(dir) != nullptr)
        ++entries;
    closedir(dir);
    return entries - 2;
}

// The copy has no name, or where the file system or the kernel cannot make
// such a file (EOPNOTSUPP; EISDIR and EINVAL from kernels without
// O_TMPFILE) a name that is removed at once: either way nothing is left.
// A page that fits the copy's block never opens it: TMPDIR may then name
// nothing at all.
TEST(Pipes, TemporaryCopyGoesWhereTmpdirSaysAndLeavesNothing)
{
    char folder[] = "/tmp/roffscript-tmpdir-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    Invocation run;
    run.input = kLargeSample;
    run.environment = {std::string("TMPDIR=") + folder};
    EXPECT_TRUE(run_roffscript(run).out == kLargeSampleScript);
    EXPECT_EQ(entries_in(folder), 0) << "the copy was left behind";
    for (int error : {EOPNOTSUPP, EISDIR, EINVAL}) {
        SCOPED_TRACE(std::strerror(error));
        EXPECT_TRUE(run_with_failing_call(run, "open", 1, error).out == kLargeSampleScript);
        EXPECT_EQ(entries_in(folder), 0) << "the named copy was left behind";
    }
    rmdir(folder);

    expect_outcome(run_roffscript(run), "", "Couldn't create temporary file: No such file or directory\n", 1);
    Invocation small = run;
    small.input = kSample;
    expect_outcome(run_roffscript(small), kSampleScript, "", 0);
    // A folder whose name, with the file's, leaves no room for the NUL.
    std::string folder_too_deep;
    while (folder_too_deep.size() + (sizeof "/roffscript-XXXXXX" - 1) < PATH_MAX)
        folder_too_deep += "/d";
    ASSERT_EQ(folder_too_deep.size() + (sizeof "/roffscript-XXXXXX" - 1), PATH_MAX);
    run.environment = {"TMPDIR=" + folder_too_deep};
    expect_outcome(run_with_failing_call(run, "open", 1, EOPNOTSUPP), "",
                   "Couldn't create temporary file: File name too long\n", 1);
}

TEST(Pipes, TerminalInputEndsAtTheFirstEndOfFile)
{
    Invocation run;
    run.input = "typed\n";
    run.stdin_terminal = true;
    expect_outcome(run_roffscript(run), "text typed\nnewline\n", "", 0);
}

TEST(OutputIntoInput, RefusedBeforeReadingWhetherNamedOrOnStandardInput)
{
    TempFile file(kSample);
    Invocation named;
    named.args = {file.path};
    named.stdout_path = file.path;
    Invocation redirected;
    redirected.stdin_path = file.path;
    redirected.stdout_path = file.path;
    for (const Invocation *run : {&named, &redirected}) {
        expect_outcome(run_roffscript(*run), "", "Couldn't write output: standard output is the input file\n", 1);
        EXPECT_EQ(contents_of(file.path), kSample);
    }
}

// A page of 2 MB, whose script is many times the output gate's block and
// more than a pipe holds.
std::string long_page()
{
    std::string page;
    for (int i = 0; page.size() < 2 * 1000 * 1000; ++i)
        page += "line " + std::to_string(i) + " of \\fBtext\\fR\n";
    return page;
}

// Runs the program on `file`, stopping it as the Nth call to `call` begins;
// `change` alters the file while it waits.  Whatever changed and whenever,
// the run must fail and, whatever the size of the script, write nothing:
// into a pipe, or into the regular file `output`, written at its end, which
// must be left as it was.
void expect_change_caught(const TempFile &file, const std::string &call, int number,
                          const std::function<void()> &change, const char *preload = FAILING_CALL_LIBRARY,
                          const TempFile *output = nullptr)
{
    Invocation run;
    run.args = {file.path};
    std::string output_before;
    if (output != nullptr) {
        output_before = contents_of(output->path);
        run.stdout_path = output->path;
        run.stdout_at_end = true;
    }
    run.environment = {"STOP_AT_CALL=" + call + ":" + std::to_string(number), std::string("LD_PRELOAD=") + preload,
                       "ASAN_OPTIONS=verify_asan_link_order=0"};
    bool stopped = false;
    run.on_start = [&](int pid) {
        int status;
        stopped = waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
        if (stopped)
            change();
        kill(pid, SIGCONT);
    };
    Outcome got = run_roffscript(run);
    ASSERT_TRUE(stopped) << "the program never stopped at " << call << " call " << number;
    EXPECT_EQ(got.out.size(), 0u) << "a script was written";
    if (output != nullptr) {
        EXPECT_TRUE(contents_of(output->path) == output_before) << "the output file was not cut back";
    }
    EXPECT_EQ(got.err, "Couldn't read \"" + file.path + "\": file changed while it was read\n");
    EXPECT_EQ(got.status, 1);
}

void rewrite_byte(const std::string &path, long offset, bool times_put_back)
{
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.put('E');
    file.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    if (times_put_back) {
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
}

// The program is stopped in its checking pass (its third read), at the
// rewind (fsetpos: it has looked at the file; fstat: it is about to), or in
// its output pass (reads of 48 KiB: some forty for each pass of the page),
// and the file changes while it waits.
TEST(ChangedInput, ChangeAtAnyMomentWritesNothingWhateverTheScriptsSize)
{
    std::string page = long_page();
    const struct {
        const char *what;
        const char *call;
        int number;
        void (*apply)(const std::string &path);
    } changes[] = {
        {"appended", "fsetpos", 1, [](const std::string &path) { std::ofstream(path, std::ios::app) << "unchecked\n"; }},
        {"cut to half", "fsetpos", 1, [](const std::string &path) { ASSERT_EQ(truncate(path.c_str(), 1000 * 1000), 0); }},
        {"one byte rewritten, times put back", "fsetpos", 1,
         [](const std::string &path) { rewrite_byte(path, 3, true); }},
        {"one byte rewritten before the rewind looked", "fstat", 3,
         [](const std::string &path) { rewrite_byte(path, 3, true); }},
        {"a late byte rewritten in the output pass", "fread", 60,
         [](const std::string &path) { rewrite_byte(path, 1900 * 1000, false); }},
        {"an early byte rewritten in the checking pass", "fread", 3,
         [](const std::string &path) { rewrite_byte(path, 3, false); }},
    };
    for (const auto &change : changes) {
        SCOPED_TRACE(change.what);
        TempFile file(page);
        expect_change_caught(file, change.call, change.number, [&] { change.apply(file.path); });
    }
    // A short page, whose whole script fits the gate's block; and a long
    // script written into a regular file as it goes.
    TempFile file(kSample);
    expect_change_caught(file, "fsetpos", 1, [&] { rewrite_byte(file.path, 0, true); });
    TempFile long_file(page), output("kept\n");
    expect_change_caught(long_file, "fread", 60, [&] { rewrite_byte(long_file.path, 1900 * 1000, false); },
                         FAILING_CALL_LIBRARY, &output);
}

// A write through a shared mapping to a page already written that way
// leaves the file's times as they were: only its bytes tell.  Where a
// file's attributes are cached and stay as they were, as on some network
// file systems, a file that grows shows it only by the bytes the output
// pass finds past its end.
TEST(ChangedInput, ChangeThatTheAttributesHideIsCaughtByTheBytes)
{
    std::string page = long_page();
    TempFile file(page);
    int fd = open(file.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    void *mapping = mmap(nullptr, page.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    volatile char *late_byte = static_cast<char *>(mapping) + page.size() - 100;
    *late_byte = *late_byte;   // the page is dirty, and its time taken, before the run
    expect_change_caught(file, "fsetpos", 1, [&] { *late_byte = 'X'; });
    munmap(mapping, page.size());
    close(fd);

    TempFile growing(page);
    expect_change_caught(growing, "fsetpos", 1,
                         [&] { std::ofstream(growing.path, std::ios::app) << "unchecked\n"; },
                         STALE_STAT_LIBRARY ":" FAILING_CALL_LIBRARY);
}

}  // namespace
