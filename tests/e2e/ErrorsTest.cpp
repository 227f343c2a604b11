// Runs that cannot record: no sound server, no such capture device, an output
// file that cannot be created. Each must say so on standard error in the
// program's own words, with nothing else mixed in (no ALSA library noise), and
// end with its exit code instead of hanging.
#include <filesystem>
#include <regex>

#include "E2eSupport.h"

namespace vorta::test {
namespace {

namespace fs = std::filesystem;

class ErrorsTest : public E2eTest {
 protected:
  struct Outcome {
    int code;
    std::string out;
    std::string err;
  };

  Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
    auto options = vorta(args);
    for (const auto& entry : extraEnv) setEnv(options, entry);
    Subprocess vorta;
    EXPECT_TRUE(vorta.start(options)) << vorta.startError();
    const int code = vorta.wait(20000);
    return {code, vorta.output(), vorta.errors()};
  }

  std::string deadServer() const { return "PULSE_SERVER=unix:" + path("no-server/native"); }
};

const std::string kNoDevice = "\r\n* Error: Soundrecord device not found.\r\n";
// The open refused, with the sound system's own text.
const std::regex kOpenError("\r\nMMSystem error: [^\r\n]+\r\n");

TEST_F(ErrorsTest, NoSoundServerBehindTheDefaultDevice) {
  // Without a server the pulse plugin's hook does not route "default" there,
  // and ALSA has no other capture device on a machine without a sound card;
  // on one with a card the open may fail differently. Either way it is one of
  // the two device messages, alone.
  const Outcome o = run({"rec"}, {deadServer()});
  EXPECT_EQ(o.code, 3);
  EXPECT_TRUE(o.err == kNoDevice || std::regex_match(o.err, kOpenError)) << "stderr: " << o.err;
  EXPECT_EQ(o.err.find("Record: "), std::string::npos);
}

TEST_F(ErrorsTest, DeviceThatCannotReachItsServerGivesTheSoundSystemsText) {
  const Outcome o = run({"rec"}, {deadServer(), "AUDIODEV=pulse"});
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.err, "\r\nMMSystem error: Connection refused\r\n");
}

TEST_F(ErrorsTest, AudiodevNamingNoDeviceMeansThereIsNone) {
  const Outcome o = run({"rec"}, {"AUDIODEV=vorta-no-such-pcm"});
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.err, kNoDevice);
  // The banner and summary came first; with standard output not a terminal
  // there is no Enter prompt to wait on.
  EXPECT_NE(o.out.find("* Resulting file: rec.mp3\n"), std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("ENTER"), std::string::npos) << o.out;
}

TEST_F(ErrorsTest, OutputFileInAMissingFolderIsACreationError) {
  const Outcome o = run({"missing/rec"}, {});
  EXPECT_EQ(o.code, 2);
  // The encoder gave up before the first pass of the capture loop: the device
  // is stopped and closed without a status line, and the system's text
  // follows the program's.
  EXPECT_EQ(o.err, "\r\n* File creation error.\r\n* No such file or directory\r\n\r\n");
  EXPECT_NE(o.out.find("* Resulting file: missing/rec.mp3\n"), std::string::npos) << o.out;
  EXPECT_FALSE(fs::exists(path("missing")));
}

}  // namespace
}  // namespace vorta::test
