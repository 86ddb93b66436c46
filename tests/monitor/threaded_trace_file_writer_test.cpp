// The recording's writer thread: a disk that takes nothing (a named pipe nobody reads) holds up
// only the writer, the bytes waiting stay within the bound, and everything taken reaches the file
// in order once the disk moves again; a full disk and a reader gone are told, not fatal.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "monitor/TraceFileWriter.h"
#include "tests/support/FileBytes.h"
#include "tests/support/StalledDisk.h"
#include "tests/support/TemporaryFolder.h"

namespace {

constexpr std::size_t kBound = 64 * 1024;

std::string chunk(int index) {
    return std::string(4000, char('a' + index % 26)) + std::to_string(index) + '\n';
}

TEST(TraceFileWriter, AStalledDiskHoldsUpOnlyTheWriterWithinTheBound) {
    TemporaryFolder folder;
    StalledDisk disk(folder);
    ASSERT_TRUE(disk.ready());
    TraceFileWriter writer(disk.openForWriting(), kBound);

    // Offered until refused: the pipe fills, the writer stalls in its write, the queue fills.
    std::string taken;
    std::string bytes;
    int index = 0;
    for (;; ++index) {
        bytes = chunk(index);
        const TraceFileWriter::Offer offer = writer.offer(bytes);
        ASSERT_LE(writer.state().queuedBytes, kBound);
        if (offer == TraceFileWriter::Offer::Full) break;
        ASSERT_EQ(offer, TraceFileWriter::Offer::Taken);
        EXPECT_TRUE(bytes.empty());
        taken += chunk(index);
    }
    EXPECT_EQ(bytes, chunk(index));  // refused bytes stay with the caller
    EXPECT_GT(writer.state().queuedBytes, kBound - chunk(index).size());
    EXPECT_LT(std::size_t(disk.bytesInPipe()), taken.size());

    // Finishing does not wait for the disk either; the last bytes are taken past the bound.
    writer.finish(chunk(index));
    taken += chunk(index);
    EXPECT_FALSE(writer.state().ended);
    bytes = "late\n";
    EXPECT_EQ(writer.offer(bytes), TraceFileWriter::Offer::Ended);

    EXPECT_EQ(disk.readToEnd(), taken);  // the disk moves: everything, in order, then the close
    writer.waitUntilEnded();
    const TraceFileWriter::State state = writer.state();
    EXPECT_EQ(state.error, 0);
    EXPECT_EQ(state.queuedBytes, 0u);
    EXPECT_EQ(state.writtenBytes, taken.size());
}

TEST(TraceFileWriter, EverythingTakenIsInTheFileWhenTheWriterGoes) {
    TemporaryFolder folder;
    const std::string path = folder.file("trace.txt");
    std::string expected;
    {
        TraceFileWriter writer(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), kBound);
        for (int index = 0; index < 10; ++index) {
            std::string bytes = chunk(index);
            if (writer.offer(bytes) == TraceFileWriter::Offer::Taken) expected += chunk(index);
        }
        writer.finish("last\n");
        expected += "last\n";
    }
    const std::vector<std::uint8_t> written = ReadFileBytes(path);
    EXPECT_EQ(std::string(written.begin(), written.end()), expected);
}

TEST(TraceFileWriter, AFullDiskEndsTheWriterWithItsReason) {
    const int fd = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (fd < 0) GTEST_SKIP() << "no /dev/full";
    TraceFileWriter writer(fd, kBound);
    std::string bytes = chunk(0);
    ASSERT_EQ(writer.offer(bytes), TraceFileWriter::Offer::Taken);
    writer.waitUntilEnded();  // without being asked to finish
    EXPECT_EQ(writer.state().error, ENOSPC);
    EXPECT_EQ(writer.state().writtenBytes, 0u);
    bytes = chunk(1);
    EXPECT_EQ(writer.offer(bytes), TraceFileWriter::Offer::Ended);
    writer.finish("last\n");
    EXPECT_EQ(writer.state().error, ENOSPC);
}

// A pipe's reader that went away would end the whole program with SIGPIPE.
TEST(TraceFileWriter, AReaderGoneIsAFailureNotTheProgramsEnd) {
    TemporaryFolder folder;
    StalledDisk disk(folder);
    ASSERT_TRUE(disk.ready());
    TraceFileWriter writer(disk.openForWriting(), kBound);
    disk.closeReader();
    std::string bytes = chunk(0);
    ASSERT_EQ(writer.offer(bytes), TraceFileWriter::Offer::Taken);
    writer.waitUntilEnded();
    EXPECT_EQ(writer.state().error, EPIPE);
}

}  // namespace
