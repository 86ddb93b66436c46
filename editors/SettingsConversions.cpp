#include "editors/SettingsConversions.h"

#include <QLocale>

namespace SettingsRules {

namespace {
QString WithSign(double value, const QString& digits) {
    return value > 0 ? QLocale().positiveSign() + digits : digits;
}
}  // namespace

QString SignedNumberLabel(double value) {
    return WithSign(value, QLocale().toString(value, 'g', QLocale::FloatingPointShortest));
}

QStringList Captions(std::span<const char* const> texts) {
    QStringList captions;
    for (const char* text : texts) captions << QString::fromUtf8(text);
    return captions;
}

QString AmplifierGainLabel(int code) {
    const double shown = RecordRules::AmplifierGainShown(code);
    return WithSign(shown, QLocale().toString(shown, 'f', 1));
}

}  // namespace SettingsRules
