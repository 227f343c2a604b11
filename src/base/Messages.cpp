#include "base/Messages.h"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "base/LogLines.h"
#include "base/Losses.h"
#include "platform/Terminal.h"
#include "platform/TextEncoding.h"

namespace vorta {
namespace {

struct Entry {
  Msg id;
  Stream stream;
  const char* english;
  const char* russian;  // nullptr: the same text in both languages
};

// Russian texts are written here in UTF-8; selectLanguage converts them when
// the console uses an 8-bit Cyrillic codeset. In "кб/c" and "кбит/c" the
// letter after the slash is the Latin c (byte 0x63), not the Cyrillic one.
const Entry kEntries[] = {
    {Msg::BannerTitle, Stream::Out,
     "\nMP3-encoder of signal from soundcard. Version 1.0.7, 13.11.2000\n",
     "\nMP3-кодер сигнала со звуковой платы. Версия 1.0.7 от 13.11.2000\n"},
    {Msg::BannerEngine, Stream::Out, "MP3-engine: Lame\n\n", "MP3-движок: Lame\n\n"},
    {Msg::InvalidBitrate, Stream::Err, "* Invalid bitrate.\r\n\r\n",
     "* Неверное значение битрейта.\r\n\r\n"},
    {Msg::InvalidSampleRate, Stream::Err, "* Invalid samplerate.\r\n\r\n",
     "* Неверное значение рабочей частоты.\r\n\r\n"},
    {Msg::InvalidTimeLimit, Stream::Err, "* Invalid time limit value.\n\r\n",
     "* Неверное значение лимита времени.\n\r\n"},
    {Msg::InvalidArgument, Stream::Err, "* Invalid argument %s.\n\r\n",
     "* Неверный парамерт %s.\n\r\n"},
    {Msg::InvalidBufferSize, Stream::Err, "* Invalid buffer size.\r\n\r\n",
     "* Неверное значение размера буфера.\r\n\r\n"},
    {Msg::NameTooLong, Stream::Err, "* File name too long (at most 259 bytes): %s\r\n\r\n",
     "* Слишком длинное имя файла (не более 259 байт): %s\r\n\r\n"},
    {Msg::Separator, Stream::Out,
     "---------------------------------------------------------------------------\n\n", nullptr},
    {Msg::BitrateNeedsLowRate, Stream::Err,
     "* Bitrate %d kbit/s can be used only with samplerate 8, 11, 12, 16, 22 or 24 kHz\r\n\r\n",
     "* Битрейт %d кб/с может использоваться только с частотами 8, 11, 12, 16, 22 или 24 кГц\r\n\r\n"},
    {Msg::RateNeedsLowBitrate1, Stream::Err, "* Samplerate %d kHz can be used only with bitrate\r\n",
     "* Частота %d кГц может использоваться только с битрейтом\r\n"},
    {Msg::RateNeedsLowBitrate2, Stream::Err,
     "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 or 160 kbis/s\r\n\r\n",
     "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 или 160 кб/с\r\n\r\n"},
    {Msg::SummaryFile, Stream::Out, "* Resulting file: %s\n", "* Выходной файл: %s\n"},
    {Msg::SummarySplit, Stream::Out, "* Split mode (files duration of 1 hour)\n",
     "* Режим резки на файлы продолжительностью 1 час\n"},
    {Msg::SummaryFormat, Stream::Out, "* File format: MPEG%g Layer3, %d kbit/s, %d kHz, %s\n",
     "* Формат файла: MPEG%g Layer3, %d кб/c, %d кГц, %s\n"},
    {Msg::SummaryQuality, Stream::Out, "* Quality: %s\n", "* Качество: %s\n"},
    {Msg::SummaryBuffer, Stream::Out, "* Buffer size: %d kb\n", "* Размер буфера: %d кб\n"},
    {Msg::SummaryTimeLimit, Stream::Out, "* Time limit: %d h %02d min\n",
     "* Ограничение по времени: %d ч %02d мин\n"},
    {Msg::SummarySilence, Stream::Out, "* Cutting out silence on level: %d dB\n",
     "* Вырезание пауз по уровню: %d dB\n"},
    {Msg::SummaryStopFile, Stream::Out, "* Exit on semaphore file: %s\n",
     "* Выход по появлению файла: %s\n"},
    {Msg::OutOfMemory, Stream::Err, "\r\n* Not enough memory (%lu).\r\n\r\n",
     "\r\n* Недостаточно оперативной памяти (%lu).\r\n\r\n"},
    {Msg::EndOfRecording, Stream::Out, "\n", nullptr},
    {Msg::LongHelpTitle, Stream::Out, "\nLong options (--option VALUE or --option=VALUE):\n",
     "\nДлинные параметры (--параметр ЗНАЧЕНИЕ или --параметр=ЗНАЧЕНИЕ):\n"},
    {Msg::VersionLines, Stream::Out, "vorta %s\nLAME %u.%u\n", nullptr},
    {Msg::DeviceListTitle, Stream::Out, "Capture devices (--device NAME):\n",
     "Устройства записи (--device ИМЯ):\n"},
    {Msg::DeviceListName, Stream::Out, "  %s\n", nullptr},
    {Msg::DeviceListDescription, Stream::Out, "      %s\n", nullptr},
    {Msg::CardListTitle, Stream::Out, "\nSound cards:\n", "\nЗвуковые карты:\n"},
    {Msg::CardListEntry, Stream::Out, "  hw:%d  %s\n      %s\n", nullptr},
    {Msg::DeviceListError, Stream::Err, "* Cannot list the sound devices: %s\r\n",
     "* Не удалось получить список звуковых устройств: %s\r\n"},
    {Msg::EnterPrompt, Stream::Out, "Press ENTER to continue...",
     "Нажмите ENTER для продолжения..."},
    {Msg::PromptEraser, Stream::Out, "\r%40s\r", nullptr},
    {Msg::NoDevice, Stream::Err, "\r\n* Error: Soundrecord device not found.\r\n",
     "\r\n* Ошибка: Нет звукозаписывающего устройства.\r\n"},
    {Msg::DeviceOpenError, Stream::Err, "\r\nMMSystem error: %s\r\n", nullptr},
    {Msg::Overrun, Stream::Err, "\r\n* Sound input overrun: about %d ms of sound lost.\r\n",
     "\r\n* Переполнение звукового входа: потеряно около %d мс звука.\r\n"},
    {Msg::DeviceLost, Stream::Err, "\r\n* Error: the sound input stopped working (%s).\r\n",
     "\r\n* Ошибка: звукозаписывающее устройство перестало работать (%s).\r\n"},
    {Msg::DeviceTried, Stream::Err, "* Device: %s (vorta --list-devices shows the others)\r\n",
     "* Устройство: %s (остальные покажет vorta --list-devices)\r\n"},
    {Msg::DevicePlugHint, Stream::Err,
     "* This device refuses the format; try --device plughw%s, which converts it.\r\n",
     "* Устройство не принимает формат; попробуйте --device plughw%s, оно его преобразует.\r\n"},
    {Msg::EncoderVersion, Stream::Out, "* Encoder version: %u.%02u\n\n",
     "* Версия энкодера: %u.%02u\n\n"},
    {Msg::ExitHint, Stream::Out, "Press ESC to exit...\n\n", "Для выхода нажмите ESC...\n\n"},
    {Msg::EncoderInitError, Stream::Err, "\r\n* Encoder initialization error (%lu).\r\n\r\n",
     "\r\n* Ошибка инициализации кодера (%lu).\r\n\r\n"},
    {Msg::FileErrorLead, Stream::Err, "\r\n* %s", nullptr},
    {Msg::FileErrorSystem, Stream::Err, "\r\n* %s\r\n\r\n", nullptr},
    {Msg::FileCreationError, Stream::Err, "File creation error.", "Ошибка создания файла."},
    {Msg::FileWriteError, Stream::Err, "Error writing to file.", "Ошибка записи файла."},
    {Msg::EncodeChunkFailed, Stream::Err, "\r\nbeEncodeChunk() failed (%lu)\r\n\r\n", nullptr},
    {Msg::DeinitStreamFailed, Stream::Err, "\r\nbeDeinitStream failed (%lu)\r\n\r\n", nullptr},
    {Msg::RingOverflow, Stream::Out, "\nError: buffer overflow\n", nullptr},
    {Msg::RingUnderflow, Stream::Out, "\nError: buffer underflow\n", nullptr},
    {Msg::OldFileDeleted, Stream::Err, "\r\n* Deleted %s (older than %d days).\r\n",
     "\r\n* Удалён %s (старше %d дн.).\r\n"},
    {Msg::TimeMapFailed, Stream::Err, "\r\n* Time map %s not written: %s\r\n",
     "\r\n* Карта времени %s не записана: %s\r\n"},
    {Msg::LogLosses, Stream::Err,
     "Losses: %u sound input overruns (about %llu ms of sound), %u buffer overflows\n",
     "Потери: переполнений звукового входа %u (около %llu мс звука), переполнений буфера %u\n"},
    {Msg::LogLossesDeadAir, Stream::Err,
     "Losses: %u sound input overruns (about %llu ms of sound), %u buffer overflows, "
     "dead air %d:%02d:%02d (%u times)\n",
     "Потери: переполнений звукового входа %u (около %llu мс звука), переполнений буфера %u, "
     "тишина в эфире %d:%02d:%02d (раз: %u)\n"},
    {Msg::DeadAirBegan, Stream::Err, "\r\n* Dead air: no sound for %g min.\r\n",
     "\r\n* Тишина в эфире: нет звука уже %g мин.\r\n"},
    {Msg::DeadAirEnded, Stream::Err, "\r\n* Sound is back after %d:%02d:%02d of dead air.\r\n",
     "\r\n* Звук вернулся после %d:%02d:%02d тишины.\r\n"},
    {Msg::DeadAirSummary, Stream::Err, "\r\n* Dead air in all: %d:%02d:%02d, times: %u.\r\n",
     "\r\n* Тишина в эфире всего: %d:%02d:%02d, раз: %u.\r\n"},
    {Msg::Status, Stream::Err,
     "Record: %d.%d kbytes (%d:%02d:%02d), buffer free: %d.%d%%, CPU usage: %d.%d%%    \r",
     "Записано: %d.%d кб (%d:%02d:%02d), буфер: %d.%d%%, использование CPU: %d.%d%%    \r"},
    {Msg::StatusMeterStereo, Stream::Err,
     "Record: %d.%d kbytes (%d:%02d:%02d), buffer free: %d.%d%%, CPU usage: %d.%d%%, "
     "peak: %.1f/%.1f dBFS, clipped: %llu    \r",
     "Записано: %d.%d кб (%d:%02d:%02d), буфер: %d.%d%%, использование CPU: %d.%d%%, "
     "пик: %.1f/%.1f dBFS, перегрузок: %llu    \r"},
    {Msg::StatusMeterMono, Stream::Err,
     "Record: %d.%d kbytes (%d:%02d:%02d), buffer free: %d.%d%%, CPU usage: %d.%d%%, "
     "peak: %.1f dBFS, clipped: %llu    \r",
     "Записано: %d.%d кб (%d:%02d:%02d), буфер: %d.%d%%, использование CPU: %d.%d%%, "
     "пик: %.1f dBFS, перегрузок: %llu    \r"},
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == static_cast<std::size_t>(Msg::Count),
              "every message needs an entry");

const std::vector<HelpLine> kEnglishHelp = {
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
    {"\t     default - 5%% of physical RAM (for mono - 2.5%%)\n", true, false},
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

const std::vector<HelpLine> kRussianHelpUtf8 = {
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
    {"\t     по умолчанию - 5%% от объема ОЗУ (для mono - 2.5%%)\n", true, false},
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

// The chosen texts. Written by selectLanguage on the main thread before any
// other thread exists; read-only afterwards.
Language gLanguage = Language::English;
std::array<std::string, static_cast<std::size_t>(Msg::Count)> gTexts;
std::vector<std::string> gHelpTexts;
std::vector<HelpLine> gHelp;
bool gSelected = false;

// The sink, likewise installed before other threads start.
TextSink* gSink = nullptr;
bool gLogLines = false;  // main thread, before other threads start

void ensureSelected() {
  if (!gSelected) selectLanguage(gLanguage);
}

}  // namespace

void selectLanguage(Language language) {
  gLanguage = language;
  const bool russian = language == Language::Russian;
  for (const Entry& e : kEntries) {
    const char* chosen = (russian && e.russian) ? e.russian : e.english;
    gTexts[static_cast<std::size_t>(e.id)] =
        (russian && e.russian) ? toConsoleCodeset(chosen) : std::string(chosen);
  }
  const auto& source = russian ? kRussianHelpUtf8 : kEnglishHelp;
  gHelpTexts.clear();
  for (const HelpLine& line : source)
    gHelpTexts.push_back(russian ? toConsoleCodeset(line.text) : std::string(line.text));
  gHelp.clear();
  for (std::size_t i = 0; i < source.size(); ++i)
    gHelp.push_back({gHelpTexts[i].c_str(), source[i].counted, source[i].plusOne});
  gSelected = true;
}

Language selectedLanguage() { return gLanguage; }

const char* text(Msg id) {
  ensureSelected();
  return gTexts[static_cast<std::size_t>(id)].c_str();
}

Stream streamOf(Msg id) { return kEntries[static_cast<std::size_t>(id)].stream; }

const std::vector<HelpLine>& helpLines() {
  ensureSelected();
  return gHelp;
}

std::string vformat(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::vsnprintf(big.data(), big.size(), fmt, args);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = vformat(fmt, args);
  va_end(args);
  return s;
}

void vsay(Msg id, va_list args) {
  countLoss(id, args);
  writeText(streamOf(id), vformat(text(id), args));
}

void say(Msg id, ...) {
  va_list args;
  va_start(args, id);
  vsay(id, args);
  va_end(args);
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

void setTextSink(TextSink* sink) { gSink = sink; }

void setLogLines(bool on) { gLogLines = on; }
bool logLinesSelected() { return gLogLines; }

void writeText(Stream stream, std::string_view bytes) {
  std::string lines;
  if (gLogLines) {
    lines = toLogLines(bytes);
    bytes = lines;
  }
  if (gSink) {
    gSink->write(stream, bytes);
    return;
  }
  writeToStream(stream, bytes);
}

void writeToStream(Stream stream, std::string_view bytes) {
  std::FILE* file = stream == Stream::Out ? stdout : stderr;
  if (stream == Stream::Err) std::fflush(stdout);
  // One fwrite holds the stream's lock for the whole text. On a terminal the
  // text shows at once; redirected, stdio buffers it until exit, unless the
  // output is a log, which wants each message when it happens.
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  if (stream == Stream::Err || gLogLines || isStdoutTerminal()) std::fflush(file);
}

}  // namespace vorta
