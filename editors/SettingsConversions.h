// The texts of the settings windows' value labels in the user's locale. What the stored bytes
// mean, and which bar position or item stands for which value, are the record's own rules
// (config/RecordRules.h); this adds only the locale's number forms.
#pragma once

#include <QString>
#include <QStringList>
#include <span>

#include "config/RecordRules.h"

namespace SettingsRules {

// A number in its shortest form with the locale's decimal separator, a plus
// sign before positive values and none before zero.
QString SignedNumberLabel(double value);

// The items of a radio group from the record's UTF-8 captions.
QStringList Captions(std::span<const char* const> texts);

// The LF amplifier's gain of a volume code: three significant digits, one decimal shown.
QString AmplifierGainLabel(int code);

}  // namespace SettingsRules
