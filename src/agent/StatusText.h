// The texts of the status label `lblStatus` and the one-line progress display.
#pragma once

#include <cstdint>
#include <string>

namespace agent {

inline constexpr const char* kDownloadEncerrado = "Download Encerrado...";
inline constexpr const char* kDownloadPausado = "Download Pausado...";

// "Tempo Restante: hh:mm:ss" for a remaining time in whole seconds.
std::string RemainingTimeText(std::uint16_t sec);

// The progress line that mirrors the bar and the label: the percentage right-aligned in
// three columns with "%", then the label's text (" 42% Tempo Restante: 00:01:05").
std::string ProgressLineText(std::int32_t percent, const std::string& status);

}  // namespace agent
