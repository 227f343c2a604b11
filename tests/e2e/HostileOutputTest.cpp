// Hostile names that only show their effect once a device is open: an output
// name that is a directory, a stop-file that is a directory before the run
// starts, and an output name whose bytes are not UTF-8.
#include <filesystem>

#include "E2eSupport.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

class HostileOutputTest : public E2eTest {
 protected:
  struct Outcome {
    int code;
    std::string out;
    std::string err;
  };

  Outcome run(const std::vector<std::string>& args) {
    Subprocess vorta;
    EXPECT_TRUE(vorta.start(E2eTest::vorta(args))) << vorta.startError();
    const int code = vorta.wait(30000);
    return {code, vorta.output(), vorta.errors()};
  }
};

TEST_F(HostileOutputTest, OutputNameThatIsADirectoryIsACreationError) {
  fs::create_directory(path("rec.mp3"));
  const Outcome o = run({"rec"});
  EXPECT_EQ(o.code, 2);
  EXPECT_EQ(o.err, "\r\n* File creation error.\r\n* Is a directory\r\n\r\n");
  EXPECT_NE(o.out.find("* Resulting file: rec.mp3\n"), std::string::npos) << o.out;
  EXPECT_TRUE(fs::is_directory(path("rec.mp3")));
  EXPECT_TRUE(fs::is_empty(path("rec.mp3")));
}

TEST_F(HostileOutputTest, StopFileThatIsADirectoryAtTheStartEndsTheRecordingAtOnce) {
  // The first look finds it: the recording ends before the first status
  // line with a whole, if short, file, and the directory stays.
  fs::create_directory(path("stop.dir"));
  const Outcome o = run({"-x", "stop.dir", "rec"});
  EXPECT_EQ(o.code, 0) << "stderr:\n" << o.err;
  EXPECT_NE(o.out.find("* Exit on semaphore file: stop.dir\n"), std::string::npos) << o.out;
  EXPECT_TRUE(fs::is_directory(path("stop.dir")));
  ASSERT_TRUE(fs::exists(path("rec.mp3")));
  const std::vector<std::uint8_t> bytes = readFileBytes(path("rec.mp3"));
  const FrameWalk walk = walkFrames(bytes);
  EXPECT_TRUE(bytes.empty() || walk.whole) << walk.why;
}

TEST_F(HostileOutputTest, OutputNameWithBytesThatAreNotUtf8IsUsedByteForByte) {
  const std::string name = "\xff\xfe-rec";
  Subprocess vorta;
  startRecording(vorta, E2eTest::vorta({name}));
  ASSERT_FALSE(HasFailure());
  sleepSeconds(1);
  ASSERT_TRUE(vorta.signal(15));
  ASSERT_EQ(vorta.wait(20000), 0) << "stderr:\n" << vorta.errors();
  EXPECT_NE(vorta.output().find("* Resulting file: " + name + ".mp3\n"), std::string::npos);
  decodeWhole(path(name + ".mp3"));
}

}  // namespace
}  // namespace vorta::test
