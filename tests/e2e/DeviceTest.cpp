// Choosing the capture device: the list names the test server's PCM, and a
// device that cannot be opened is named in the error, --device before AUDIODEV.
#include <filesystem>

#include "E2eTest.h"
#include "ExpectedTexts.h"

namespace vorta::test {
namespace {

using DeviceTest = E2eTest;

TEST_F(DeviceTest, ListShowsTheServersPcmAndEndsWithoutRecording) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(E2eTest::vorta({"--list-devices", "rec"})));
  EXPECT_EQ(vorta.wait(20000), 0) << vorta.errors();
  EXPECT_EQ(vorta.output().find(kBanner + "Capture devices (--device NAME):\n"), 0u)
      << vorta.output();
  EXPECT_NE(vorta.output().find("\n  pulse\n      PulseAudio Sound Server\n"), std::string::npos);
  EXPECT_NE(vorta.output().find("\nSound cards:\n"), std::string::npos);
  EXPECT_EQ(vorta.errors(), "");
  EXPECT_FALSE(std::filesystem::exists(path("rec.mp3")));
}

TEST_F(DeviceTest, ErrorNamesTheDeviceAskedForWhichBeatsAudiodev) {
  ProcessOptions o = E2eTest::vorta({"--device=vorta-no-such-pcm", "rec"});
  o.env.push_back("AUDIODEV=pulse");
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(o));
  EXPECT_EQ(vorta.wait(20000), 3);
  EXPECT_EQ(vorta.errors(), "\r\n* Error: Soundrecord device not found.\r\n* Device: "
                            "vorta-no-such-pcm (vorta --list-devices shows the others)\r\n");
}

}  // namespace
}  // namespace vorta::test
