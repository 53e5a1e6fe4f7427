// The command line, and input and output that are not plain files: pipes,
// FIFOs, terminals, directories, a full disk, closed and broken streams, the
// temporary copy that input without a position needs, output into the
// input, and input that changes while it is read.

#include "program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
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

TEST(CommandLine, TwoArgumentsAreAUsageError)
{
    Invocation run;
    run.args = {"a", "b"};
    run.input = kSample;
    expect_outcome(run_roffscript(run), "", "Usage: roffscript ?fileName?\n", 1);
}

TEST(CommandLine, MissingFileNamesTheFileAsGiven)
{
    Invocation run;
    run.args = {"no/such file"};
    expect_outcome(run_roffscript(run), "", "Couldn't read \"no/such file\": No such file or directory\n", 1);
}

TEST(ReadErrors, DirectoryNamedIsAReadErrorNotAnEmptyScript)
{
    Invocation run;
    run.args = {"/"};
    expect_outcome(run_roffscript(run), "", "Couldn't read \"/\": Is a directory\n", 1);
}

TEST(ReadErrors, DirectoryOnStandardInput)
{
    Invocation run;
    run.stdin_path = "/";
    expect_outcome(run_roffscript(run), "", "Couldn't read \"-\": Is a directory\n", 1);
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
    // for it in advance, and the run could not vouch for its bytes.
    Invocation run;
    run.args = {small.path};
    expect_outcome(run_with_failing_call(run, "getrandom", 1, ENOSYS), "",
                   "Couldn't read \"" + small.path +
                       "\": no random secret to hash it with: Function not implemented\n",
                   1);
}

// A short script fails at the last write; a long one in the middle of the
// output pass, which then stops and must still say why.
TEST(WriteErrors, FullDiskIsAFailure)
{
    std::string long_script_page;
    while (long_script_page.size() < 200 * 1000)   // several of the program's output blocks
        long_script_page += kSample;
    for (const std::string &page : {std::string(kSample), long_script_page}) {
        Invocation run;
        run.input = page;
        run.stdout_path = "/dev/full";
        expect_outcome(run_roffscript(run), "", "Couldn't write output: No space left on device\n", 1);
    }
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

TEST(Pipes, StandardInputFromAFile)
{
    TempFile file(kSample);
    Invocation run;
    run.stdin_path = file.path;
    expect_outcome(run_roffscript(run), kSampleScript, "", 0);
}

TEST(Pipes, StandardInputPartlyReadAlreadyStartsWhereItStands)
{
    // The output pass starts where the checking pass did, not at the start
    // of the file, or it would write lines that were never checked.
    TempFile file(std::string("\\(e\n") + kSample);
    Invocation run;
    run.stdin_path = file.path;
    run.stdin_offset = 4;
    expect_outcome(run_roffscript(run), kSampleScript, "", 0);
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

// Only a page too large for the block needs the temporary file.
TEST(Pipes, NowhereForTheTemporaryCopy)
{
    Invocation run;
    run.input = kLargeSample;
    run.read_only_tmp = true;
    Outcome got = run_roffscript(run);
    if (got.status == kNoNamespace)
        GTEST_SKIP() << "no mount namespace for a read-only /tmp here";
    expect_outcome(got, "", "Couldn't create temporary file: Read-only file system\n", 1);
    run.input = kSample;
    expect_outcome(run_roffscript(run), kSampleScript, "", 0);
}

TEST(Pipes, TemporaryCopyCannotBeWritten)
{
    Invocation run;
    run.input = kLargeSample;
    run.max_file_size = 0;
    run.ignore_sigxfsz = true;
    expect_outcome(run_roffscript(run), "", "Couldn't write temporary file: File too large\n", 1);
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

// The copy has no name, or where the file system cannot make such a file
// (EOPNOTSUPP) a name that is removed at once: either way nothing is left.
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
    EXPECT_TRUE(run_with_failing_call(run, "open", 1, EOPNOTSUPP).out == kLargeSampleScript);
    EXPECT_EQ(entries_in(folder), 0) << "the named copy was left behind";
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

std::string contents_of(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
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

// A page of 2 MB gives far more script than a pipe holds, so that the
// output pass cannot finish while the test holds back its reader.
std::string long_page()
{
    std::string page;
    for (int i = 0; page.size() < 2 * 1000 * 1000; ++i)
        page += "line " + std::to_string(i) + " of \\fBtext\\fR\n";
    return page;
}

// The output pass is held back by a reader that waits, and the file is
// changed once the checking pass has passed it: however it changed, the run
// must not end as if the script were whole.
TEST(ChangedInput, FileChangedBetweenThePassesIsAFailure)
{
    std::string page = long_page();
    struct Change {
        const char *what;
        void (*apply)(const std::string &path);
    } const changes[] = {
        {"appended", [](const std::string &path) { std::ofstream(path, std::ios::app) << "unchecked\n"; }},
        {"cut to half", [](const std::string &path) { ASSERT_EQ(truncate(path.c_str(), 1000 * 1000), 0); }},
        {"one byte rewritten", [](const std::string &path) {
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(3);
             file.put('E');
         }},
    };
    for (const Change &change : changes) {
        SCOPED_TRACE(change.what);
        TempFile file(page);
        Invocation run;
        run.args = {file.path};
        run.on_first_output = [&] { change.apply(file.path); };
        Outcome got = run_roffscript(run);
        EXPECT_EQ(got.err, "Couldn't read \"" + file.path + "\": file changed while it was read\n");
        EXPECT_EQ(got.status, 1);
        EXPECT_EQ(got.out.find("unchecked"), std::string::npos) << "the output pass read past what was checked";
    }
}

// A write through a shared mapping to a page already written that way
// leaves the file's times as they were: only its bytes tell.
TEST(ChangedInput, WriteThroughASharedMappingIsCaughtByTheBytes)
{
    std::string page = long_page();
    TempFile file(page);
    int fd = open(file.path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    void *mapping = mmap(nullptr, page.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ASSERT_NE(mapping, MAP_FAILED);
    volatile char *late_byte = static_cast<char *>(mapping) + page.size() - 100;
    *late_byte = *late_byte;   // the page is dirty, and its time taken, before the run
    Invocation run;
    run.args = {file.path};
    run.on_first_output = [&] { *late_byte = 'X'; };
    Outcome got = run_roffscript(run);
    munmap(mapping, page.size());
    close(fd);
    EXPECT_EQ(got.err, "Couldn't read \"" + file.path + "\": file changed while it was read\n");
    EXPECT_EQ(got.status, 1);
}

// Where a file's attributes are cached and stay as they were, a file that
// grows shows it only by the bytes the output pass finds past its end.
TEST(ChangedInput, GrowthThatTheAttributesHideIsAFailure)
{
    TempFile file(long_page());
    Invocation run;
    run.args = {file.path};
    run.environment = {"LD_PRELOAD=" STALE_STAT_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"};
    run.on_first_output = [&] { std::ofstream(file.path, std::ios::app) << "unchecked\n"; };
    Outcome got = run_roffscript(run);
    EXPECT_EQ(got.err, "Couldn't read \"" + file.path + "\": file changed while it was read\n");
    EXPECT_EQ(got.status, 1);
}

// The program stops itself at a call of the rewind, and the file is
// rewritten, to the same size and with its times put back, while it waits.
// A change found at the end of the output pass, while the whole script is
// still held, must leave standard output empty.  And the change time,
// which no one can put back, must show the change before the output pass,
// while a script larger than the output block could still be kept whole:
// nothing else would.
TEST(ChangedInput, FileRewrittenDuringTheRewindWritesNothing)
{
    std::string large_script_page;
    while (large_script_page.size() < 20 * 1000)
        large_script_page += "\\(em\\(em\\(em\\(em\\(em\\(em\\(em\\(em\\(em\\(em\\(em\\(em\n";
    const struct {
        const char *when;
        const char *call;
        int number;
        std::string page;
    } stops[] = {
        {"after the rewind looked at the file", "fsetpos", 1, kSample},
        {"before the rewind looked at the file", "fstat", 3, large_script_page},
    };
    for (const auto &stop : stops) {
        SCOPED_TRACE(stop.when);
        TempFile file(stop.page);
        Invocation run;
        run.args = {file.path};
        run.environment = {"STOP_AT_CALL=" + std::string(stop.call) + ":" + std::to_string(stop.number),
                           "LD_PRELOAD=" FAILING_CALL_LIBRARY, "ASAN_OPTIONS=verify_asan_link_order=0"};
        bool stopped = false;
        run.on_start = [&](int pid) {
            int status;
            stopped = waitpid(pid, &status, WUNTRACED) == pid && WIFSTOPPED(status);
            if (!stopped)
                return;
            struct stat before;
            ASSERT_EQ(stat(file.path.c_str(), &before), 0);
            std::fstream(file.path, std::ios::in | std::ios::out | std::ios::binary).put('E');
            const struct timespec times[2] = {before.st_atim, before.st_mtim};
            ASSERT_EQ(utimensat(AT_FDCWD, file.path.c_str(), times, 0), 0);
            kill(pid, SIGCONT);
        };
        Outcome got = run_roffscript(run);
        ASSERT_TRUE(stopped) << "the program never stopped at the rewind";
        EXPECT_EQ(got.out.size(), 0u) << "a script was written";
        EXPECT_EQ(got.err, "Couldn't read \"" + file.path + "\": file changed while it was read\n");
        EXPECT_EQ(got.status, 1);
    }
}

// Where the file read by the process `pid` on descriptor 3 stands.
long input_position(int pid)
{
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/3");
    std::string field;
    long position = -1;
    while (info >> field)
        if (field == "pos:" && info >> position)
            break;
    return position;
}

// A change found before the output pass must leave standard output empty.
// The program is stopped well into its checking pass: the output pass could
// not get that far, since nothing reads its output until this returns.
TEST(ChangedInput, FileChangedDuringTheCheckingPassWritesNothing)
{
    std::string page;
    while (page.size() < 64 * 1000 * 1000)
        page += long_page();
    TempFile file(page);
    constexpr long kWellIn = 1000 * 1000;
    bool caught = false;
    for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
        Invocation run;
        run.args = {file.path};
        run.on_start = [&](int pid) {
            for (int polls = 0; polls < 10 * 1000 * 1000; ++polls) {
                long position = input_position(pid);
                if (position < kWellIn)
                    continue;
                kill(pid, SIGSTOP);
                int status;
                waitpid(pid, &status, WUNTRACED);
                position = input_position(pid);
                if (position >= kWellIn && position < static_cast<long>(page.size())) {
                    std::fstream bytes(file.path, std::ios::in | std::ios::out | std::ios::binary);
                    bytes.seekp(3);
                    bytes.put('E');
                    caught = true;
                }
                kill(pid, SIGCONT);
                return;
            }
        };
        Outcome got = run_roffscript(run);
        if (caught) {
            EXPECT_EQ(got.out.size(), 0u) << "a script was written";
            EXPECT_EQ(got.err, "Couldn't read \"" + file.path + "\": file changed while it was read\n");
            EXPECT_EQ(got.status, 1);
        }
    }
    EXPECT_TRUE(caught) << "never found the program in its checking pass";
}

// Every line length the buffer allows, in one document larger than any of
// the program's buffers, so that lines straddle every boundary of its reads.
TEST(Pipes, EveryLineLengthThroughFileAndPipe)
{
    std::string input, script;
    for (int length = 0; length <= 3998; ++length) {
        std::string line(static_cast<std::size_t>(length), static_cast<char>('a' + length % 26));
        input += line + "\n";
        if (length > 0)
            script += "text " + line + "\n";
        script += "newline\n";
    }
    TempFile file(input);
    Invocation named;
    named.args = {file.path};
    expect_outcome(run_roffscript(named), script, "", 0);
    Invocation piped;
    piped.input = input;
    expect_outcome(run_roffscript(piped), script, "", 0);
}

}  // namespace
