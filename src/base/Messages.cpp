#include "base/Messages.h"

#include <fmt/format.h>

#include <span>

#include "platform/TextEncoding.h"

namespace vorta {
namespace {

struct HelpSource {
  const char* text;
  bool counted;
  bool plusOne;
};

const HelpSource kEnglishHelp[] = {
    {"* Execute vorta -rus to get russian help\n\n", true, true},
    {"Usage:\n", true, false},
    {"vorta [options] [outfile]\n", true, false},
    {"options: [-b bitrate] [-f buffer] [-s level] [-a] [-ms|j|m] [-ql|h]\n", true, false},
    {"         [-d frequency] [-x filename] [-split1|2|3]\n\n", true, true},
    {"\t-b - bitrate, maybe 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128,\n", true, false},
    {"\t     144, 160, 192, 224, 256, 320 kbit/s, default - 128 kbit/s\n", true, false},
    {"\t-d - working samplerate, maybe 8, 11, 12, 16, 22, 24, 32, 44 or 48 kHz,\n", true, false},
    {"\t     default 44 kHz\n", true, false},
    {"\t-t - limitation of encoding time, in minutes, by default - no limit\n", true, false},
    {"\t-f - size of working buffer, in kbytes, starting with 256 kb,\n", true, false},
    {"\t     default - 5% of physical RAM (for mono - 2.5%)\n", true, false},
    {"\t-s - cutting out silence on mentioned level, in dB, default - -50 dB\n", true, false},
    {"\t-a - set the increased priority execution of encoder,\n", true, false},
    {"\t     by default on Windows 9x, -a- disable this mode\n", true, false},
    {"\t-x - set of semaphore filename for stopping recording process\n", true, false},
    {"\t-ms - use stereo mode (by default for bitrates >= 192)\n", true, false},
    {"\t-mj - use j-stereo mode (by default for bitrates < 192)\n", true, false},
    {"\t-mm - use mono mode\n", true, false},
    {"\t-ql - encode with low quality\n", true, false},
    {"\t-qh - encode with high quality (by default)\n", true, false},
    {"\t-split1 - split to files (duration of 1 hour), daily cycle\n", true, false},
    {"\t-split2 - split to files (duration of 1 hour), weekly cycle\n", true, false},
    {"\t-split3 - split to files (duration of 1 hour), monthly cycle\n", true, false},
    {"\toutfile - resulting mp3 filename, by default - out.mp3\n", false, false},
};

const HelpSource kRussianHelpUtf8[] = {
    {"Использование:\n", true, false},
    {"vorta [options] [outfile]\n", true, false},
    {"options: [-b bitrate] [-f buffer] [-s level] [-a] [-ms|j|m] [-ql|h]\n", true, false},
    {"         [-d frequency] [-x filename] [-split1|2|3]\n\n", true, true},
    {"\t-b - битрейт, из ряда 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128,\n", true, false},
    {"\t     144, 160, 192, 224, 256, 320 кбит/c, по умолчанию - 128 кбит/c\n", true, false},
    {"\t-d - задать рабочую частоту дискретизации, из ряда 8, 11, 12, 16,\n", true, false},
    {"\t     22, 24, 32, 44 или 48 кГц, по умолчанию 44 кГц\n", true, false},
    {"\t-t - ограничение кодирования по времени в минутах,\n", true, false},
    {"\t     по умолчанию - нет ограничения\n", true, false},
    {"\t-f - размер буфера в кб для неупакованных данных, от 256 кб,\n", true, false},
    {"\t     по умолчанию - 5% от объема ОЗУ (для mono - 2.5%)\n", true, false},
    {"\t-s - вырезание пауз по указаному уровню (в dB)\n", true, false},
    {"\t     по умолчанию используется уровень -50 dB\n", true, false},
    {"\t-a - установить повышенный приоритет выполнения кодера,\n", true, false},
    {"\t     по умолчанию для Windows 9x, -a- отменяет этот режим\n", true, false},
    {"\t-x - задает имя файла-флага, по появлению которого программа\n", true, false},
    {"\t     завершает работу, файл-флаг при этом удаляется\n", true, false},
    {"\t-ms - использовать режим stereo (по умолчанию для битрейтов >= 192)\n", true, false},
    {"\t-mj - использовать режим j-stereo (по умолчанию для битрейтов < 192)\n", true, false},
    {"\t-mm - использовать режим mono\n", true, false},
    {"\t-ql - кодировать с низким качеством\n", true, false},
    {"\t-qh - кодировать с высоким качеством (по умолчанию)\n", true, false},
    {"\t-split1 - разбивать на файлы длительностью 1 час, суточный цикл\n", true, false},
    {"\t-split2 - разбивать на файлы длительностью 1 час, недельный цикл\n", true, false},
    {"\t-split3 - разбивать на файлы длительностью 1 час, месячный цикл\n", true, false},
    {"\toutfile - имя создаваемого mp3-файла, по умолчанию out.mp3\n", false, false},
};

}  // namespace

#define VORTA_LIST_MESSAGE(name, to, types, englishText, russianText) \
  all.push_back({#name, text(Msg::name.english), text(Msg::name.russian)});

std::vector<MessageTexts> allMessageTexts() {
  const auto text = [](fmt::string_view s) { return std::string_view(s.data(), s.size()); };
  std::vector<MessageTexts> all;
  VORTA_MESSAGES(VORTA_LIST_MESSAGE)
  return all;
}

#undef VORTA_LIST_MESSAGE

// The Russian texts are converted before they are formatted, never the
// values put into them (file names are shown as the system holds them).
// The conversion changes only the Cyrillic letters, so the fields checked
// when the program was compiled are the ones formatted here.
std::string vformatText(Language language, fmt::string_view english, fmt::string_view russian,
                        fmt::format_args args) {
  if (language != Language::Russian) return fmt::vformat(english, args);
  const std::string converted = toConsoleCodeset(std::string(russian.data(), russian.size()));
  return fmt::vformat(converted, args);
}

const char* channelModeName(ChannelMode mode) {
  switch (mode) {
    case ChannelMode::Stereo: return "stereo";
    case ChannelMode::JointStereo: return "j-stereo";
    case ChannelMode::Mono: return "mono";
  }
  return "";
}

const char* qualityName(Quality quality) { return quality == Quality::Low ? "low" : "high"; }

std::vector<HelpLine> helpLines(Language language) {
  const bool russian = language == Language::Russian;
  std::vector<HelpLine> lines;
  for (const HelpSource& line : russian ? std::span<const HelpSource>(kRussianHelpUtf8)
                                                : std::span<const HelpSource>(kEnglishHelp))
    lines.push_back({russian ? toConsoleCodeset(line.text) : std::string(line.text), line.counted,
                     line.plusOne});
  return lines;
}

}  // namespace vorta
