// The status file and the operators' hooks end to end: dead air and a split
// file, a killed server, an overrun whose hook fails and an end whose hook
// hangs. Each hook appends "EVENT FILE BYTES SECONDS EXIT_CODE" to hooks.log.
#include <signal.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <regex>
#include <sstream>
#include <thread>
#include "E2eTest.h"

namespace vorta::test {
namespace {
const std::string kLogHook =
    "echo \"$VORTA_EVENT $VORTA_FILE $VORTA_BYTES $VORTA_SECONDS $VORTA_EXIT_CODE $VORTA_REASON\" >> hooks.log";

class Report : public E2eTest {
 protected:
  std::string read(const std::string& name) {
    std::stringstream text;
    text << std::ifstream(path(name)).rdbuf();
    return text.str();
  }
  // Fails unless the status file has each "key":value (a regular expression each).
  void expectStatus(const std::vector<std::string>& fields) {
    const std::string json = read("st.json");
    EXPECT_TRUE(json.starts_with("{\"state\":") && json.ends_with("}\n")) << json;
    for (const std::string& f : fields) EXPECT_TRUE(std::regex_search(json, std::regex("\"" + f + "[,}]"))) << f << "\n" << json;
  }
};

TEST_F(Report, DeadAirAndSplitFilesReachTheStatusFileAndTheHooks) {
  auto o = vorta({"--status", "st.json", "--meter", "--on-event", kLogHook, "--dead-air", "0.05", "-split1", "-x", "stop.now", "r"});
  for (const auto& entry : wallClockAt("2026-12-07 10:59:57")) o.env.push_back(entry);
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(o) && vorta.waitForErrors("Record: ", 30000)) << vorta.errors();
  ASSERT_EQ(play(TestSignal(48000, 2).timeCode(0, 1).silence(5).timeCode(1, 2))->wait(30000), 0);
  expectStatus({R"(state":"recording")", R"(buffer_free_percent":(9\d|100)\.\d)", R"(device":"default")", R"(utc":false)", R"(file":"11.mp3")", R"(dead_air":\{"now":false,"seconds":[45]\.\d,"times":1\})"});
  std::ofstream(path("stop.now")) << "stop\n";
  ASSERT_EQ(vorta.wait(30000), 0) << vorta.errors();
  expectStatus({R"(state":"ended")", R"(exit_code":0)", R"(file":"11.mp3")", R"(bytes":[1-9]\d+)", R"(last_error":null)",
                R"(format":\{"mpeg_version":1\.0,"bitrate_kbps":128,"sample_rate_hz":44100,"channel_mode":"j-stereo","quality":"high"\})",
                R"(losses":\{"overruns":0,"overrun_ms":0,"buffer_overflows":0\})", R"(updated":"2026-12-07T11:00:\d\dZ")",
                R"(peak_dbfs":\[-?[\d.]+,-?[\d.]+\])"});
  const std::string size10 = std::to_string(std::filesystem::file_size(path("10.mp3")));
  const std::string size11 = std::to_string(std::filesystem::file_size(path("11.mp3")));
  const std::string last11 = "file-finished 11.mp3 " + size11 + R"( \d\.\d  \n)", end = R"(end 11.mp3  \d\.\d 0 \n)";
  // Hooks run side by side: the last two (the file's and the end's) may append in either order.
  EXPECT_TRUE(std::regex_match(read("hooks.log"), std::regex(
      "file-finished 10.mp3 " + size10 + R"( \d\.\d  \n)"
      R"(dead-air-began 11.mp3  3\.0  \ndead-air-ended 11.mp3  [45]\.\d  \n)"
      "(" + last11 + end + "|" + end + last11 + ")"))) << read("hooks.log");
}

// The input's loss: the hooks hear it with the system's text, the status file keeps it with the code.
TEST_F(Report, AKilledServerIsTheLastErrorAndTheExitCode) {
  Subprocess vorta;
  ASSERT_TRUE(startRecording(vorta, E2eTest::vorta({"--status", "st.json", "--on-event", kLogHook, "rec"})));
  ASSERT_EQ(::kill(server().pid(), SIGKILL), 0);
  ASSERT_EQ(vorta.wait(30000), 3) << vorta.errors();
  expectStatus({R"(state":"failed")", R"(exit_code":3)", R"(last_error":\{"kind":"input-lost","text":"[^"]+"\})"});
  // The three hooks run at once: their lines come in any order.
  std::istringstream log(read("hooks.log"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line + "\n");
  std::sort(lines.begin(), lines.end());
  EXPECT_TRUE(std::regex_match(std::accumulate(lines.begin(), lines.end(), std::string()), std::regex(
      R"(end rec\.mp3  \d+\.\d 3 \nfile-finished rec\.mp3 \d+ \d+\.\d  \ninput-lost rec\.mp3  \d+\.\d  [^\n]+\n)"))) << read("hooks.log");
}

// A hook that fails is reported; one that hangs holds the end a few seconds at most and is left running.
TEST_F(Report, HooksThatFailOrHangNeverHoldTheRecording) {
  Subprocess vorta;
  ASSERT_TRUE(vorta.start(withShim(E2eTest::vorta({"--on-event", "case $VORTA_EVENT in overrun) echo $VORTA_LOST_MS > lost; "
      "exit 3;; end) echo $$ > hung; exec sleep 30;; esac", "rec"}), "overrun")));
  ASSERT_TRUE(vorta.waitForErrors("\r\n* Hook for overrun ended with code 3.\r\n", 30000)) << vorta.errors();
  ASSERT_TRUE(vorta.signal(SIGINT));
  EXPECT_EQ(vorta.wait(12000), 0) << "waited for the hook: " << vorta.errors();
  EXPECT_TRUE(vorta.errors().ends_with("\r\n* Hooks still running at exit, left running: 1\r\n")) << vorta.errors();
  EXPECT_NE(vorta.errors().find("about " + read("lost").substr(0, read("lost").size() - 1) + " ms of sound lost"), std::string::npos);
  int hung = 0;
  EXPECT_TRUE(std::ifstream(path("hung")) >> hung && ::kill(hung, SIGKILL) == 0) << "the hook is left running";
}
}  // namespace
}  // namespace vorta::test
