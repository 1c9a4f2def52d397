#include "config/Settings.h"

#include "config/Genfunc.h"
#include "config/ProgramConfig.h"
#include "config/Scrambler.h"
#include "diag/AnsiText.h"

#include <QFileInfo>

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <optional>
#include <type_traits>
#include <variant>

namespace velmora {

namespace {

const char kOptions[] = "[ProgramOptions]";
const char kIp[] = "[ProgramIP_Options]";
const char kMail[] = "[ProgramMailSettings]";
const char kGeneral[] = "[GeneralProgramSetting]";
const char kReconnect[] = "[ReConnectProgramSetting]";
const char kSound[] = "[SoundSetup]";
const char kTeamArchive[] = "[TeamArchive]";

using Field = std::variant<QString TSettings::*, bool TSettings::*, qint32 TSettings::*, quint32 TSettings::*>;

// One key of the file; its default is the field's initial value in TSettings.
struct Key {
    std::optional<SettingsPage> page; // none: the console writes the key itself (WriteFields)
    const char *section;
    const char *name;
    Field field;
    bool scrambled = false; // the mail password: stored scrambled, hex-encoded
};

// Every key, in the order the settings dialog writes them (pages in dialog
// order), so that a new file lists its keys as it always has.
const Key kKeys[] = {
    {SettingsPage::Support, kOptions, "SupportName", &TSettings::SupportName},
    {SettingsPage::Support, kOptions, "WelcomToMsgMsg", &TSettings::WelcomToMsgMsg},
    {SettingsPage::Support, kOptions, "SupportNotAvailMsg", &TSettings::SupportNotAvailMsg},
    {SettingsPage::Support, kOptions, "SupportNotAvailReminderMsg", &TSettings::SupportNotAvailReminderMsg},
    {SettingsPage::Support, kOptions, "SupportWelcomeMsg", &TSettings::SupportWelcomeMsg},
    {SettingsPage::Support, kOptions, "WelcomeImgFileName", &TSettings::WelcomeImgFileName},
    {SettingsPage::WebAndIp, kIp, "ClientID", &TSettings::ClientID},
    {SettingsPage::WebAndIp, kIp, "WebSiteUrl", &TSettings::WebSiteUrl},
    {SettingsPage::WebAndIp, kIp, "WebListenPort", &TSettings::WebListenPort},
    {SettingsPage::WebAndIp, kIp, "AuthValue", &TSettings::AuthValue},
    {SettingsPage::Colors, kOptions, "SupportNameColor", &TSettings::SupportNameColor},
    {SettingsPage::Colors, kOptions, "SupportTextColor", &TSettings::SupportTextColor},
    {SettingsPage::Colors, kOptions, "UserNameColor", &TSettings::UserNameColor},
    {SettingsPage::Colors, kOptions, "UserTextColor", &TSettings::UserTextColor},
    {SettingsPage::General, kGeneral, "NotAvailTimeOut", &TSettings::NotAvailTimeOut},
    {SettingsPage::General, kGeneral, "ReminderCount", &TSettings::ReminderCount},
    {SettingsPage::General, kGeneral, "RingRemindTimer", &TSettings::RingRemindTimer},
    {SettingsPage::General, kGeneral, "OfflineTimeOut", &TSettings::OfflineTimeOut},
    {SettingsPage::General, kGeneral, "ConnectOnStart", &TSettings::ConnectOnStart},
    {SettingsPage::General, kGeneral, "AutoOnHoldOnMinimized", &TSettings::AutoOnHoldOnMinimized},
    {SettingsPage::General, kGeneral, "OfflineTimeOutEna", &TSettings::OfflineTimeOutEna},
    {SettingsPage::General, kGeneral, "ConnectTimeoutValue", &TSettings::ConnectTimeoutValue},
    {SettingsPage::General, kGeneral, "RegistrationTimeoutValue", &TSettings::RegistrationTimeoutValue},
    {SettingsPage::General, kGeneral, "UseEnterKeyToSendMessage", &TSettings::UseEnterKeyToSendMessage},
    {SettingsPage::General, kGeneral, "EmptyLineAdd", &TSettings::EmptyLineAdd},
    {SettingsPage::General, kGeneral, "CallDispPosValue", &TSettings::CallDispPosValue},
    {SettingsPage::General, kGeneral, "ChatsInOneWindow", &TSettings::ChatsInOneWindow},
    {SettingsPage::General, kGeneral, "ArchiveDays", &TSettings::ArchiveDays},
    {SettingsPage::General, kGeneral, "SpellLanguage", &TSettings::SpellLanguage},
    {SettingsPage::General, kGeneral, "LineTimes", &TSettings::LineTimes},
    {SettingsPage::General, kGeneral, "ResponseTarget", &TSettings::ResponseTarget},
    {std::nullopt, kGeneral, "ChatWindowWidth", &TSettings::ChatWindowWidth},
    {std::nullopt, kGeneral, "ChatWindowHeight", &TSettings::ChatWindowHeight},
    {std::nullopt, kGeneral, "ChatWorkspaceGeometry", &TSettings::ChatWorkspaceGeometry},
    {SettingsPage::Sound, kSound, "MainSundFile", &TSettings::MainSundFile},
    {SettingsPage::Sound, kSound, "ChatSoundFile", &TSettings::ChatSoundFile},
    {SettingsPage::Sound, kSound, "NotifyNewCalls", &TSettings::NotifyNewCalls},
    {SettingsPage::Sound, kSound, "NotifyRequests", &TSettings::NotifyRequests},
    {SettingsPage::Sound, kSound, "NotifyVisitorLines", &TSettings::NotifyVisitorLines},
    {SettingsPage::Sound, kSound, "NotifyLineText", &TSettings::NotifyLineText},
    {SettingsPage::Mail, kMail, "EanbelDisableMails", &TSettings::EanbelDisableMails},
    {SettingsPage::Mail, kMail, "ForceCC", &TSettings::ForceCC},
    {SettingsPage::Mail, kMail, "SMTP_Server", &TSettings::SMTP_Server},
    {SettingsPage::Mail, kMail, "SMTP_SignOn", &TSettings::SMTP_SignOn},
    {SettingsPage::Mail, kMail, "MailUserID", &TSettings::MailUserID},
    {SettingsPage::Mail, kMail, "SupportMailAddr", &TSettings::SupportMailAddr},
    {SettingsPage::Mail, kMail, "MailAuthCheck", &TSettings::MailAuthCheck},
    {SettingsPage::Mail, kMail, "AuthType", &TSettings::AuthType},
    {SettingsPage::Mail, kMail, "EncPassword", &TSettings::MailPassword, true},
    {SettingsPage::Mail, kMail, "ReplyToMailAddr", &TSettings::ReplyToMailAddr},
    {SettingsPage::Mail, kMail, "CC_MailAddr", &TSettings::CC_MailAddr},
    {SettingsPage::Mail, kMail, "DebugMail", &TSettings::DebugMail},
    {SettingsPage::Mail, kMail, "SMTP_Port", &TSettings::SMTP_Port},
    {SettingsPage::Mail, kMail, "SMTP_Security", &TSettings::SMTP_Security},
    {SettingsPage::Mail, kMail, "SMTP_CAFile", &TSettings::SMTP_CAFile},
    {SettingsPage::Reconnect, kReconnect, "ReConnectAfterNetError", &TSettings::ReConnectAfterNetError},
    {SettingsPage::Reconnect, kReconnect, "DisplayNetworkMessages", &TSettings::DisplayNetworkMessages},
    {SettingsPage::Reconnect, kReconnect, "ReConnectIntervals", &TSettings::ReConnectIntervals},
    {SettingsPage::Reconnect, kReconnect, "ReConnectRetriesVal", &TSettings::ReConnectRetriesVal},
    {SettingsPage::TeamArchive, kTeamArchive, "TeamArchive", &TSettings::TeamArchive},
    {SettingsPage::TeamArchive, kTeamArchive, "TeamArchiveSchema", &TSettings::TeamArchiveSchema},
};

// Reads one key into `s`, the field's current value being the default.
void ReadKey(const TProgramConfig &store, const Key &key, TSettings &s)
{
    const QString section = QLatin1String(key.section);
    const QString name = QLatin1String(key.name);
    if (key.scrambled) {
        const QString enc = store.ReadString(section, name, QString());
        s.*std::get<QString TSettings::*>(key.field) =
            FromAnsi(ScramblePassword(HexDecode(enc), ScrambleDirection::Unscramble));
        return;
    }
    std::visit(
        [&](auto member) {
            auto &field = s.*member;
            using T = std::remove_reference_t<decltype(field)>;
            if constexpr (std::is_same_v<T, QString>)
                field = store.ReadString(section, name, field);
            else if constexpr (std::is_same_v<T, bool>)
                field = store.ReadBool(section, name, field);
            else if constexpr (std::is_same_v<T, qint32>)
                field = store.ReadInteger(section, name, field);
            else
                field = static_cast<quint32>(store.ReadInteger(section, name, static_cast<qint32>(field)));
        },
        key.field);
}

void WriteKey(TProgramConfig &store, const Key &key, const TSettings &s)
{
    const QString section = QLatin1String(key.section);
    const QString name = QLatin1String(key.name);
    if (key.scrambled) {
        const QString &plain = s.*std::get<QString TSettings::*>(key.field);
        store.WriteString(section, name, HexEncode(ScramblePassword(ToAnsi(plain), ScrambleDirection::Scramble)));
        return;
    }
    std::visit(
        [&](auto member) {
            const auto &field = s.*member;
            using T = std::remove_cvref_t<decltype(field)>;
            if constexpr (std::is_same_v<T, QString>)
                store.WriteString(section, name, field);
            else if constexpr (std::is_same_v<T, bool>)
                store.WriteBool(section, name, field);
            else if constexpr (std::is_same_v<T, qint32>)
                store.WriteInteger(section, name, field);
            else
                store.WriteUnsigned(section, name, field);
        },
        key.field);
}

// Writes the keys of `fields` alone, in the table's order.
void WriteFields(TProgramConfig &store, const TSettings &s, std::initializer_list<Field> fields)
{
    for (const Key &key : kKeys)
        if (std::find(fields.begin(), fields.end(), key.field) != fields.end())
            WriteKey(store, key, s);
}

} // namespace

int TSettings::SecondsToMs(qint32 seconds)
{
    // A period of 0 would fire at once: a time-out that always expires, a
    // reminder that never stops.
    if (seconds < 1)
        return 1000;
    const qint64 ms = qint64(seconds) * 1000;
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(ms);
}

TSettings &Settings()
{
    static TSettings settings;
    return settings;
}

void ReadSettings(const TProgramConfig &store, TSettings &out)
{
    // Start from the defaults so a key missing now does not keep a value read
    // from an earlier file.
    TSettings s;
    for (const Key &key : kKeys)
        ReadKey(store, key, s);
    s.ArchiveDays = qBound(0, s.ArchiveDays, 100 * 366);
    s.ResponseTarget = qBound(1, s.ResponseTarget, 24 * 60 * 60);
    // A damaged file must not open windows no screen can hold.
    if (s.ChatWindowWidth <= 0 || s.ChatWindowHeight <= 0 || s.ChatWindowWidth > 16384
        || s.ChatWindowHeight > 16384)
        s.ChatWindowWidth = s.ChatWindowHeight = 0;

    out = std::move(s);
}

void WriteChatWindowSize(TProgramConfig &store, qint32 width, qint32 height)
{
    TSettings s;
    s.ChatWindowWidth = width;
    s.ChatWindowHeight = height;
    WriteFields(store, s, {&TSettings::ChatWindowWidth, &TSettings::ChatWindowHeight});
}

void WriteChatWorkspaceGeometry(TProgramConfig &store, const QString &geometry)
{
    TSettings s;
    s.ChatWorkspaceGeometry = geometry;
    WriteFields(store, s, {&TSettings::ChatWorkspaceGeometry});
}

bool SoundFilesPresent(const TSettings &s)
{
    return QFileInfo(s.MainSundFile).isFile() && QFileInfo(s.ChatSoundFile).isFile();
}

void WriteSettingsPage(TProgramConfig &store, const TSettings &s, SettingsPage page)
{
    for (const Key &key : kKeys)
        if (key.page == page)
            WriteKey(store, key, s);
}

void WriteSettings(TProgramConfig &store, const TSettings &s)
{
    for (SettingsPage page : {SettingsPage::Support, SettingsPage::WebAndIp, SettingsPage::Colors,
                              SettingsPage::General, SettingsPage::Sound, SettingsPage::Mail,
                              SettingsPage::Reconnect, SettingsPage::TeamArchive})
        WriteSettingsPage(store, s, page);
}

} // namespace velmora
