#pragma once
// The file and colour choosers of the settings windows, behind one replaceable
// object so tests answer them without a screen.
#include <QString>

#include <optional>

class QWidget;

namespace velmora {

class ISetupDialogs {
public:
    virtual ~ISetupDialogs() = default;
    // A file to open; empty when the operator cancelled. `filter` in Qt's form.
    virtual QString OpenFile(QWidget *parent, const QString &filter, const QString &preset);
    // A file name to save under, starting in `dir`; empty when cancelled.
    virtual QString SaveFile(QWidget *parent, const QString &filter, const QString &dir);
    // A file name to save under, proposing `suggested` (a path); the filter
    // the operator chose goes to `chosenFilter`. Empty when cancelled.
    virtual QString SaveFileAs(QWidget *parent, const QString &filter, const QString &suggested, QString *chosenFilter);
    // A colour in the 0x00BBGGRR layout; nothing when cancelled.
    virtual std::optional<quint32> ChooseColor(QWidget *parent, quint32 bgr);
};

ISetupDialogs &SetupDialogs();
// Installs `dialogs` (not owned); nullptr restores the real ones.
void SetSetupDialogs(ISetupDialogs *dialogs);

// Filters in either letter case: file names on Linux keep theirs.
inline constexpr const char *kConfigFileFilter = "Config file (*.ini *.INI)";
inline constexpr const char *kWelcomeImageFilter =
    "Image in GIF format (*.gif *.GIF);;Image in JPEG format (*.jpg *.JPG)";
inline constexpr const char *kWaveFileFilter = "Wave files (*.wav *.WAV)";

} // namespace velmora
