// The message catalogue: every text the program prints, in English and in
// Russian, the stream each one goes to and the types of its values.
//
// Each message is a constant of type Message<Args...>, whose two texts are
// checked against Args when the program is compiled (fmt's format strings):
// a text that names a value it is not given, or formats one with the wrong
// kind of field, does not build. Russian texts are kept in UTF-8 here and
// converted to the console's codeset when they are formatted.
//
// Threads: the catalogue is constant and formatting is pure, so any thread
// may format a message; TextOutput writes them.
#pragma once

#include <fmt/core.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "base/Settings.h"

namespace vorta {

enum class Stream { Out, Err };

template <typename... Args>
struct Message {
  // russian == nullptr: the same text in both languages.
  consteval Message(Stream to, const char* englishText, const char* russianText)
      : stream(to), english(englishText), russian(russianText ? russianText : englishText) {}
  Stream stream;
  fmt::format_string<Args...> english;
  fmt::format_string<Args...> russian;
};

// In "кб/c" and "кбит/c" the letter after the slash is the Latin c (byte
// 0x63), not the Cyrillic one. A text is a format string: "{}" is a value,
// "{{" and "}}" are braces.
// X(name, stream, (value types), English, Russian or nullptr)
#define VORTA_MESSAGES(X)                                                                      \
  /* Run control */                                                                            \
  X(BannerTitle, Out, (), "\nMP3-encoder of signal from soundcard. Version 1.0.7, 13.11.2000\n", \
    "\nMP3-кодер сигнала со звуковой платы. Версия 1.0.7 от 13.11.2000\n")                    \
  X(BannerEngine, Out, (), "MP3-engine: Lame\n\n", "MP3-движок: Lame\n\n")                     \
  X(InvalidBitrate, Err, (), "* Invalid bitrate.\r\n\r\n", "* Неверное значение битрейта.\r\n\r\n") \
  X(InvalidSampleRate, Err, (), "* Invalid samplerate.\r\n\r\n",                                \
    "* Неверное значение рабочей частоты.\r\n\r\n")                                             \
  X(InvalidTimeLimit, Err, (), "* Invalid time limit value.\n\r\n",                             \
    "* Неверное значение лимита времени.\n\r\n")                                                \
  X(InvalidArgument, Err, (std::string_view), "* Invalid argument {}.\n\r\n",                    \
    "* Неверный парамерт {}.\n\r\n")                                                            \
  X(InvalidBufferSize, Err, (), "* Invalid buffer size.\r\n\r\n",                               \
    "* Неверное значение размера буфера.\r\n\r\n")                                              \
  X(NameTooLong, Err, (std::string_view), "* File name too long (at most 259 bytes): {}\r\n\r\n", \
    "* Слишком длинное имя файла (не более 259 байт): {}\r\n\r\n")                              \
  X(Separator, Out, (),                                                                         \
    "---------------------------------------------------------------------------\n\n", nullptr) \
  X(BitrateNeedsLowRate, Err, (int),                                                            \
    "* Bitrate {} kbit/s can be used only with samplerate 8, 11, 12, 16, 22 or 24 kHz\r\n\r\n", \
    "* Битрейт {} кб/с может использоваться только с частотами 8, 11, 12, 16, 22 или 24 кГц\r\n\r\n") \
  X(RateNeedsLowBitrate1, Err, (int), "* Samplerate {} kHz can be used only with bitrate\r\n",  \
    "* Частота {} кГц может использоваться только с битрейтом\r\n")                             \
  X(RateNeedsLowBitrate2, Err, (),                                                              \
    "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 or 160 kbis/s\r\n\r\n",             \
    "  8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144 или 160 кб/с\r\n\r\n")              \
  X(SummaryFile, Out, (std::string_view), "* Resulting file: {}\n", "* Выходной файл: {}\n")     \
  X(SummarySplit, Out, (), "* Split mode (files duration of 1 hour)\n",                         \
    "* Режим резки на файлы продолжительностью 1 час\n")                                        \
  /* the MPEG version as printf's %g shows it: 1, 2, 2.5 */                                     \
  X(SummaryFormat, Out, (double, int, int, std::string_view),                                   \
    "* File format: MPEG{:g} Layer3, {} kbit/s, {} kHz, {}\n",                                  \
    "* Формат файла: MPEG{:g} Layer3, {} кб/c, {} кГц, {}\n")                                    \
  X(SummaryQuality, Out, (std::string_view), "* Quality: {}\n", "* Качество: {}\n")              \
  X(SummaryBuffer, Out, (int), "* Buffer size: {} kb\n", "* Размер буфера: {} кб\n")             \
  X(SummaryTimeLimit, Out, (int, int), "* Time limit: {} h {:02} min\n",                        \
    "* Ограничение по времени: {} ч {:02} мин\n")                                               \
  X(SummarySilence, Out, (int), "* Cutting out silence on level: {} dB\n",                      \
    "* Вырезание пауз по уровню: {} dB\n")                                                      \
  X(SummaryStopFile, Out, (std::string_view), "* Exit on semaphore file: {}\n",                 \
    "* Выход по появлению файла: {}\n")                                                         \
  X(SummaryUtc, Out, (), "* File names and hours in UTC\n", "* Имена файлов и часы по UTC\n")  \
  X(OutOfMemory, Err, (unsigned long), "\r\n* Not enough memory ({}).\r\n\r\n",                 \
    "\r\n* Недостаточно оперативной памяти ({}).\r\n\r\n")                                      \
  X(EndOfRecording, Out, (), "\n", nullptr)                                                     \
  /* Long options */                                                                            \
  X(LongHelpTitle, Out, (), "\nLong options (--option VALUE or --option=VALUE):\n",             \
    "\nДлинные параметры (--параметр ЗНАЧЕНИЕ или --параметр=ЗНАЧЕНИЕ):\n")                     \
  X(VersionLines, Out, (std::string_view, unsigned, unsigned), "vorta {}\nLAME {}.{}\n", nullptr) \
  X(DeviceListTitle, Out, (), "Capture devices (--device NAME):\n",                             \
    "Устройства записи (--device ИМЯ):\n")                                                      \
  X(DeviceListName, Out, (std::string_view), "  {}\n", nullptr)                                 \
  X(DeviceListDescription, Out, (std::string_view), "      {}\n", nullptr)                      \
  X(CardListTitle, Out, (), "\nSound cards:\n", "\nЗвуковые карты:\n")                          \
  X(CardListEntry, Out, (int, std::string_view, std::string_view), "  hw:{}  {}\n      {}\n",   \
    nullptr)                                                                                    \
  X(DeviceListError, Err, (std::string_view), "* Cannot list the sound devices: {}\r\n",        \
    "* Не удалось получить список звуковых устройств: {}\r\n")                                  \
  /* Prompts */                                                                                 \
  X(EnterPrompt, Out, (), "Press ENTER to continue...", "Нажмите ENTER для продолжения...")     \
  X(PromptEraser, Out, (), "\r                                        \r", nullptr)             \
  /* Sound capture */                                                                           \
  X(NoDevice, Err, (), "\r\n* Error: Soundrecord device not found.\r\n",                        \
    "\r\n* Ошибка: Нет звукозаписывающего устройства.\r\n")                                     \
  X(DeviceOpenError, Err, (std::string_view), "\r\nMMSystem error: {}\r\n", nullptr)            \
  X(Overrun, Err, (int), "\r\n* Sound input overrun: about {} ms of sound lost.\r\n",           \
    "\r\n* Переполнение звукового входа: потеряно около {} мс звука.\r\n")                      \
  X(DeviceLost, Err, (std::string_view), "\r\n* Error: the sound input stopped working ({}).\r\n", \
    "\r\n* Ошибка: звукозаписывающее устройство перестало работать ({}).\r\n")                  \
  X(DeviceTried, Err, (std::string_view),                                                       \
    "* Device: {} (vorta --list-devices shows the others)\r\n",                                 \
    "* Устройство: {} (остальные покажет vorta --list-devices)\r\n")                            \
  X(DevicePlugHint, Err, (std::string_view),                                                    \
    "* This device refuses the format; try --device plughw{}, which converts it.\r\n",         \
    "* Устройство не принимает формат; попробуйте --device plughw{}, оно его преобразует.\r\n") \
  /* Encoding and files */                                                                      \
  X(EncoderVersion, Out, (unsigned, unsigned), "* Encoder version: {}.{:02}\n\n",               \
    "* Версия энкодера: {}.{:02}\n\n")                                                          \
  X(ExitHint, Out, (), "Press ESC to exit...\n\n", "Для выхода нажмите ESC...\n\n")             \
  X(EncoderInitError, Err, (unsigned long), "\r\n* Encoder initialization error ({}).\r\n\r\n", \
    "\r\n* Ошибка инициализации кодера ({}).\r\n\r\n")                                          \
  X(FileErrorLead, Err, (std::string_view), "\r\n* {}", nullptr)                                \
  X(FileErrorSystem, Err, (std::string_view), "\r\n* {}\r\n\r\n", nullptr)                      \
  X(FileCreationError, Err, (), "File creation error.", "Ошибка создания файла.")               \
  X(FileWriteError, Err, (), "Error writing to file.", "Ошибка записи файла.")                  \
  X(EncodeChunkFailed, Err, (unsigned long), "\r\nbeEncodeChunk() failed ({})\r\n\r\n", nullptr) \
  X(DeinitStreamFailed, Err, (unsigned long), "\r\nbeDeinitStream failed ({})\r\n\r\n", nullptr) \
  X(RingOverflow, Out, (), "\nError: buffer overflow\n", nullptr)                               \
  X(OldFileDeleted, Err, (std::string_view, int), "\r\n* Deleted {} (older than {} days).\r\n", \
    "\r\n* Удалён {} (старше {} дн.).\r\n")                                                     \
  /* --keep-free: the file's path, the mark as given */                                         \
  X(FreeSpaceFileDeleted, Err, (std::string_view, std::string_view),                            \
    "\r\n* Deleted {} (free space below {}).\r\n", "\r\n* Удалён {} (свободного места меньше {}).\r\n") \
  X(NothingLeftToDelete, Err, (std::string_view),                                               \
    "\r\n* Warning: free space is below {} and no old file is left to delete; recording on.\r\n", \
    "\r\n* Внимание: свободного места меньше {}, а старых файлов для удаления не осталось; "     \
    "запись продолжается.\r\n")                                                                 \
  /* The clock */                                                                               \
  X(ClockUnsynchronised, Err, (),                                                               \
    "\r\n* Warning: the system clock is not synchronised with a time source; file names and "   \
    "hours follow it as it is.\r\n",                                                             \
    "\r\n* Внимание: системные часы не синхронизированы с источником точного времени; имена "   \
    "файлов и часы следуют им как есть.\r\n")                                                   \
  X(ClockSteppedForward, Err, (double), "\r\n* The system clock was set forward by {:.1f} s.\r\n", \
    "\r\n* Системные часы переведены вперёд на {:.1f} с.\r\n")                                 \
  X(ClockSteppedBack, Err, (double), "\r\n* The system clock was set back by {:.1f} s.\r\n",  \
    "\r\n* Системные часы переведены назад на {:.1f} с.\r\n")                                  \
  /* the time map's path, the system's text */                                                  \
  X(TimeMapFailed, Err, (std::string_view, std::string_view),                                   \
    "\r\n* Time map {} not written: {}\r\n", "\r\n* Карта времени {} не записана: {}\r\n")       \
  /* --status: the file's name, the system's text */                                            \
  X(StatusFileFailed, Err, (std::string_view, std::string_view),                                \
    "\r\n* Status file {} not written: {}\r\n", "\r\n* Файл состояния {} не записан: {}\r\n")   \
  /* --on-event: the event's name, the command's exit code or the system's text */             \
  X(HookEnded, Err, (std::string_view, int), "\r\n* Hook for {} ended with code {}.\r\n",       \
    "\r\n* Команда для {} завершилась с кодом {}.\r\n")                                          \
  X(HookNotStarted, Err, (std::string_view, std::string_view),                                  \
    "\r\n* Hook for {} not started: {}\r\n", "\r\n* Команда для {} не запущена: {}\r\n")         \
  X(HooksDropped, Err, (unsigned), "\r\n* Hooks dropped (too many at once): {}\r\n",           \
    "\r\n* Команд пропущено (слишком много сразу): {}\r\n")                                      \
  X(HooksLeftRunning, Err, (unsigned), "\r\n* Hooks still running at exit, left running: {}\r\n", \
    "\r\n* Команд ещё выполняется при выходе, оставлены: {}\r\n")                               \
  /* overruns, their ms, buffer overflows */                                                    \
  X(LogLosses, Err, (unsigned, unsigned long long, unsigned),                                   \
    "Losses: {} sound input overruns (about {} ms of sound), {} buffer overflows\n",            \
    "Потери: переполнений звукового входа {} (около {} мс звука), переполнений буфера {}\n")    \
  /* LogLosses' values, then the dead air in all (h, min, s) and how many times */              \
  X(LogLossesDeadAir, Err, (unsigned, unsigned long long, unsigned, int, int, int, unsigned),   \
    "Losses: {} sound input overruns (about {} ms of sound), {} buffer overflows, "             \
    "dead air {}:{:02}:{:02} ({} times)\n",                                                     \
    "Потери: переполнений звукового входа {} (около {} мс звука), переполнений буфера {}, "     \
    "тишина в эфире {}:{:02}:{:02} (раз: {})\n")                                                \
  /* Dead air (--dead-air): minutes as printf's %g shows them */                                \
  X(DeadAirBegan, Err, (double), "\r\n* Dead air: no sound for {:g} min.\r\n",                  \
    "\r\n* Тишина в эфире: нет звука уже {:g} мин.\r\n")                                        \
  X(DeadAirEnded, Err, (int, int, int), "\r\n* Sound is back after {}:{:02}:{:02} of dead air.\r\n", \
    "\r\n* Звук вернулся после {}:{:02}:{:02} тишины.\r\n")                                     \
  X(DeadAirSummary, Err, (int, int, int, unsigned),                                             \
    "\r\n* Dead air in all: {}:{:02}:{:02}, times: {}.\r\n",                                    \
    "\r\n* Тишина в эфире всего: {}:{:02}:{:02}, раз: {}.\r\n")                                 \
  /* Status line: kB and tenth, h:m:s, free % and tenth, CPU % and tenth */                     \
  X(Status, Err, (int, int, int, int, int, int, int, int, int),                                 \
    "Record: {}.{} kbytes ({}:{:02}:{:02}), buffer free: {}.{}%, CPU usage: {}.{}%    \r",      \
    "Записано: {}.{} кб ({}:{:02}:{:02}), буфер: {}.{}%, использование CPU: {}.{}%    \r")      \
  /* Status' values, then the peaks in dBFS and the clipped samples */                          \
  X(StatusMeterStereo, Err, (int, int, int, int, int, int, int, int, int, double, double,       \
                             unsigned long long),                                               \
    "Record: {}.{} kbytes ({}:{:02}:{:02}), buffer free: {}.{}%, CPU usage: {}.{}%, "           \
    "peak: {:.1f}/{:.1f} dBFS, clipped: {}    \r",                                              \
    "Записано: {}.{} кб ({}:{:02}:{:02}), буфер: {}.{}%, использование CPU: {}.{}%, "           \
    "пик: {:.1f}/{:.1f} dBFS, перегрузок: {}    \r")                                            \
  X(StatusMeterMono, Err, (int, int, int, int, int, int, int, int, int, double,                 \
                           unsigned long long),                                                 \
    "Record: {}.{} kbytes ({}:{:02}:{:02}), buffer free: {}.{}%, CPU usage: {}.{}%, "           \
    "peak: {:.1f} dBFS, clipped: {}    \r",                                                     \
    "Записано: {}.{} кб ({}:{:02}:{:02}), буфер: {}.{}%, использование CPU: {}.{}%, "           \
    "пик: {:.1f} dBFS, перегрузок: {}    \r")

#define VORTA_MESSAGE_TYPES(...) __VA_ARGS__
#define VORTA_DECLARE_MESSAGE(name, to, types, english, russian) \
  static constexpr Message<VORTA_MESSAGE_TYPES types> name{Stream::to, english, russian};

// Msg::Overrun and so on.
struct Msg {
  VORTA_MESSAGES(VORTA_DECLARE_MESSAGE)
};

#undef VORTA_DECLARE_MESSAGE

// Every message's name and its two texts, for the tests of the catalogue.
struct MessageTexts {
  const char* name;
  std::string_view english, russian;
};
std::vector<MessageTexts> allMessageTexts();

// The text of a message in `language` (in the console's codeset), formatted.
std::string vformatText(Language language, fmt::string_view english, fmt::string_view russian,
                        fmt::format_args args);
template <typename... Args>
std::string formatText(Language language, const Message<Args...>& message,
                       const std::type_identity_t<Args>&... args) {
  return vformatText(language, message.english, message.russian, fmt::make_format_args(args...));
}

// Channel-mode and quality names, the same in both languages.
const char* channelModeName(ChannelMode mode);
const char* qualityName(Quality quality);

// One line of the help screen, as printed: counted lines call the pager
// after they are printed; plusOne lines end with an empty line and add one
// more row.
struct HelpLine {
  std::string text;
  bool counted;
  bool plusOne;
};
std::vector<HelpLine> helpLines(Language language);

}  // namespace vorta
