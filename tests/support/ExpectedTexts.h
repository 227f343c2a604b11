// Texts the program prints before anything else, as the tests expect them,
// byte for byte (the Russian ones in UTF-8, as written in the C locale).
#pragma once

#include <string>

namespace vorta {

inline const std::string kBanner =
    "\nMP3-encoder of signal from soundcard. Version 1.0.7, 13.11.2000\nMP3-engine: Lame\n\n";
inline const std::string kBannerRu =
    "\nMP3-кодер сигнала со звуковой платы. Версия 1.0.7 от 13.11.2000\nMP3-движок: Lame\n\n";
inline const std::string kSeparator = std::string(75, '-') + "\n\n";

}  // namespace vorta
