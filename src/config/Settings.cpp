#include "config/Settings.h"

#include "config/Genfunc.h"
#include "config/ProgramConfig.h"
#include "config/Scrambler.h"
#include "diag/AnsiText.h"

#include <QFileInfo>

#include <limits>

namespace velmora {

namespace {

const QString kOptions = QStringLiteral("[ProgramOptions]");
const QString kIp = QStringLiteral("[ProgramIP_Options]");
const QString kMail = QStringLiteral("[ProgramMailSettings]");
const QString kGeneral = QStringLiteral("[GeneralProgramSetting]");
const QString kReconnect = QStringLiteral("[ReConnectProgramSetting]");
const QString kSound = QStringLiteral("[SoundSetup]");

// Reads into a field, the field's current value being the default.
class Reader {
public:
    Reader(const TProgramConfig &store, const QString &section) : m_store(store), m_section(section) {}
    void operator()(const char *key, QString &field) const { field = m_store.ReadString(m_section, QLatin1String(key), field); }
    void operator()(const char *key, bool &field) const { field = m_store.ReadBool(m_section, QLatin1String(key), field); }
    void operator()(const char *key, qint32 &field) const { field = m_store.ReadInteger(m_section, QLatin1String(key), field); }
    void operator()(const char *key, quint32 &field) const
    {
        field = static_cast<quint32>(m_store.ReadInteger(m_section, QLatin1String(key), static_cast<qint32>(field)));
    }

private:
    const TProgramConfig &m_store;
    const QString &m_section;
};

class Writer {
public:
    Writer(TProgramConfig &store, const QString &section) : m_store(store), m_section(section) {}
    void operator()(const char *key, const QString &v) const { m_store.WriteString(m_section, QLatin1String(key), v); }
    void operator()(const char *key, bool v) const { m_store.WriteBool(m_section, QLatin1String(key), v); }
    void operator()(const char *key, qint32 v) const { m_store.WriteInteger(m_section, QLatin1String(key), v); }
    void operator()(const char *key, quint32 v) const { m_store.WriteUnsigned(m_section, QLatin1String(key), v); }

private:
    TProgramConfig &m_store;
    const QString &m_section;
};

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

    const Reader options(store, kOptions);
    options("SupportName", s.SupportName);
    options("WelcomToMsgMsg", s.WelcomToMsgMsg);
    options("SupportNotAvailMsg", s.SupportNotAvailMsg);
    options("SupportNotAvailReminderMsg", s.SupportNotAvailReminderMsg);
    options("SupportWelcomeMsg", s.SupportWelcomeMsg);
    options("WelcomeImgFileName", s.WelcomeImgFileName);
    options("SupportNameColor", s.SupportNameColor);
    options("SupportTextColor", s.SupportTextColor);
    options("UserNameColor", s.UserNameColor);
    options("UserTextColor", s.UserTextColor);

    const Reader ip(store, kIp);
    ip("ClientID", s.ClientID);
    ip("WebSiteUrl", s.WebSiteUrl);
    ip("WebListenPort", s.WebListenPort);
    ip("AuthValue", s.AuthValue);

    const Reader mail(store, kMail);
    mail("EanbelDisableMails", s.EanbelDisableMails);
    mail("ForceCC", s.ForceCC);
    mail("SMTP_Server", s.SMTP_Server);
    mail("SMTP_SignOn", s.SMTP_SignOn);
    mail("MailUserID", s.MailUserID);
    mail("SupportMailAddr", s.SupportMailAddr);
    mail("MailAuthCheck", s.MailAuthCheck);
    mail("AuthType", s.AuthType);
    const QString enc = store.ReadString(kMail, QStringLiteral("EncPassword"), QString());
    s.MailPassword = FromAnsi(ScramblePassword(HexDecode(enc), ScrambleDirection::Unscramble));
    mail("ReplyToMailAddr", s.ReplyToMailAddr);
    mail("CC_MailAddr", s.CC_MailAddr);
    mail("DebugMail", s.DebugMail);
    mail("SMTP_Port", s.SMTP_Port);
    mail("SMTP_Security", s.SMTP_Security);
    mail("SMTP_CAFile", s.SMTP_CAFile);

    const Reader general(store, kGeneral);
    general("NotAvailTimeOut", s.NotAvailTimeOut);
    general("ReminderCount", s.ReminderCount);
    general("RingRemindTimer", s.RingRemindTimer);
    general("ConnectOnStart", s.ConnectOnStart);
    general("AutoOnHoldOnMinimized", s.AutoOnHoldOnMinimized);
    general("OfflineTimeOutEna", s.OfflineTimeOutEna);
    general("OfflineTimeOut", s.OfflineTimeOut);
    general("UseEnterKeyToSendMessage", s.UseEnterKeyToSendMessage);
    general("EmptyLineAdd", s.EmptyLineAdd);
    general("CallDispPosValue", s.CallDispPosValue);
    general("ConnectTimeoutValue", s.ConnectTimeoutValue);
    general("RegistrationTimeoutValue", s.RegistrationTimeoutValue);
    general("ArchiveDays", s.ArchiveDays);
    s.ArchiveDays = qBound(0, s.ArchiveDays, 100 * 366);
    general("ChatWindowWidth", s.ChatWindowWidth);
    general("ChatWindowHeight", s.ChatWindowHeight);
    // A damaged file must not open windows no screen can hold.
    if (s.ChatWindowWidth <= 0 || s.ChatWindowHeight <= 0 || s.ChatWindowWidth > 16384
        || s.ChatWindowHeight > 16384)
        s.ChatWindowWidth = s.ChatWindowHeight = 0;

    const Reader reconnect(store, kReconnect);
    reconnect("DisplayNetworkMessages", s.DisplayNetworkMessages);
    reconnect("ReConnectAfterNetError", s.ReConnectAfterNetError);
    reconnect("ReConnectIntervals", s.ReConnectIntervals);
    reconnect("ReConnectRetriesVal", s.ReConnectRetriesVal);

    const Reader sound(store, kSound);
    sound("MainSundFile", s.MainSundFile);
    sound("ChatSoundFile", s.ChatSoundFile);
    sound("NotifyNewCalls", s.NotifyNewCalls);
    sound("NotifyRequests", s.NotifyRequests);
    sound("NotifyVisitorLines", s.NotifyVisitorLines);
    sound("NotifyLineText", s.NotifyLineText);

    out = std::move(s);
}

void WriteChatWindowSize(TProgramConfig &store, qint32 width, qint32 height)
{
    const Writer w(store, kGeneral);
    w("ChatWindowWidth", width);
    w("ChatWindowHeight", height);
}

bool SoundFilesPresent(const TSettings &s)
{
    return QFileInfo(s.MainSundFile).isFile() && QFileInfo(s.ChatSoundFile).isFile();
}

void WriteSettingsPage(TProgramConfig &store, const TSettings &s, SettingsPage page)
{
    switch (page) {
    case SettingsPage::Support: {
        const Writer w(store, kOptions);
        w("SupportName", s.SupportName);
        w("WelcomToMsgMsg", s.WelcomToMsgMsg);
        w("SupportNotAvailMsg", s.SupportNotAvailMsg);
        w("SupportNotAvailReminderMsg", s.SupportNotAvailReminderMsg);
        w("SupportWelcomeMsg", s.SupportWelcomeMsg);
        w("WelcomeImgFileName", s.WelcomeImgFileName);
        break;
    }
    case SettingsPage::WebAndIp: {
        const Writer w(store, kIp);
        w("ClientID", s.ClientID);
        w("WebSiteUrl", s.WebSiteUrl);
        w("WebListenPort", s.WebListenPort);
        w("AuthValue", s.AuthValue);
        break;
    }
    case SettingsPage::Colors: {
        const Writer w(store, kOptions);
        w("SupportNameColor", s.SupportNameColor);
        w("SupportTextColor", s.SupportTextColor);
        w("UserNameColor", s.UserNameColor);
        w("UserTextColor", s.UserTextColor);
        break;
    }
    case SettingsPage::General: {
        const Writer w(store, kGeneral);
        w("NotAvailTimeOut", s.NotAvailTimeOut);
        w("ReminderCount", s.ReminderCount);
        w("RingRemindTimer", s.RingRemindTimer);
        w("OfflineTimeOut", s.OfflineTimeOut);
        w("ConnectOnStart", s.ConnectOnStart);
        w("AutoOnHoldOnMinimized", s.AutoOnHoldOnMinimized);
        w("OfflineTimeOutEna", s.OfflineTimeOutEna);
        w("ConnectTimeoutValue", s.ConnectTimeoutValue);
        w("RegistrationTimeoutValue", s.RegistrationTimeoutValue);
        w("UseEnterKeyToSendMessage", s.UseEnterKeyToSendMessage);
        w("EmptyLineAdd", s.EmptyLineAdd);
        w("CallDispPosValue", s.CallDispPosValue);
        w("ArchiveDays", s.ArchiveDays);
        break;
    }
    case SettingsPage::Sound: {
        const Writer w(store, kSound);
        w("MainSundFile", s.MainSundFile);
        w("ChatSoundFile", s.ChatSoundFile);
        w("NotifyNewCalls", s.NotifyNewCalls);
        w("NotifyRequests", s.NotifyRequests);
        w("NotifyVisitorLines", s.NotifyVisitorLines);
        w("NotifyLineText", s.NotifyLineText);
        break;
    }
    case SettingsPage::Mail: {
        const Writer w(store, kMail);
        w("EanbelDisableMails", s.EanbelDisableMails);
        w("ForceCC", s.ForceCC);
        w("SMTP_Server", s.SMTP_Server);
        w("SMTP_SignOn", s.SMTP_SignOn);
        w("MailUserID", s.MailUserID);
        w("SupportMailAddr", s.SupportMailAddr);
        w("MailAuthCheck", s.MailAuthCheck);
        w("AuthType", s.AuthType);
        w("EncPassword", HexEncode(ScramblePassword(ToAnsi(s.MailPassword), ScrambleDirection::Scramble)));
        w("ReplyToMailAddr", s.ReplyToMailAddr);
        w("CC_MailAddr", s.CC_MailAddr);
        w("DebugMail", s.DebugMail);
        w("SMTP_Port", s.SMTP_Port);
        w("SMTP_Security", s.SMTP_Security);
        w("SMTP_CAFile", s.SMTP_CAFile);
        break;
    }
    case SettingsPage::Reconnect: {
        const Writer w(store, kReconnect);
        w("ReConnectAfterNetError", s.ReConnectAfterNetError);
        w("DisplayNetworkMessages", s.DisplayNetworkMessages);
        w("ReConnectIntervals", s.ReConnectIntervals);
        w("ReConnectRetriesVal", s.ReConnectRetriesVal);
        break;
    }
    }
}

void WriteSettings(TProgramConfig &store, const TSettings &s)
{
    for (SettingsPage page : {SettingsPage::Support, SettingsPage::WebAndIp, SettingsPage::Colors,
                              SettingsPage::General, SettingsPage::Sound, SettingsPage::Mail,
                              SettingsPage::Reconnect})
        WriteSettingsPage(store, s, page);
}

} // namespace velmora
