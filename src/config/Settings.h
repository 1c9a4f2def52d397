#pragma once
// The process-wide settings record: one field per key of Velmora.ini, named
// like the key, plus the plain mail password, which lives in memory only.
#include "config/Genfunc.h"

#include <QString>

namespace velmora {

class TProgramConfig;

struct TSettings {
    // [ProgramOptions]
    QString SupportName;
    QString WelcomToMsgMsg;
    QString SupportNotAvailMsg;
    QString SupportNotAvailReminderMsg;
    QString SupportWelcomeMsg;
    QString WelcomeImgFileName;
    // Colours in the 0x00BBGGRR layout: 0xFF is red, 0xFF0000 blue.
    quint32 SupportNameColor = 0x0000FF;
    quint32 SupportTextColor = 0;
    quint32 UserNameColor = 0xFF0000;
    quint32 UserTextColor = 0;

    // [ProgramIP_Options]
    QString ClientID;
    QString WebSiteUrl = QStringLiteral("localhost");
    QString WebListenPort = QStringLiteral("30000");
    QString AuthValue = QStringLiteral("0");

    // [ProgramMailSettings]
    bool EanbelDisableMails = false;
    bool ForceCC = false;
    QString SMTP_Server;
    QString SMTP_SignOn;
    QString MailUserID;
    QString SupportMailAddr;
    bool MailAuthCheck = false;
    qint32 AuthType = 0; // 0 automatic, 1 PLAIN, 2 LOGIN, 3 CRAM-MD5
    QString MailPassword; // stored scrambled under EncPassword
    QString ReplyToMailAddr;
    QString CC_MailAddr;
    bool DebugMail = false;
    // Where and how transcripts leave: port 25 and no encryption unless set.
    qint32 SMTP_Port = 25;
    qint32 SMTP_Security = 0; // 0 none, 1 STARTTLS required, 2 TLS from the first byte
    QString SMTP_CAFile;      // extra trusted certificates (PEM), for company CAs

    // [GeneralProgramSetting]; periods in seconds
    qint32 NotAvailTimeOut = 30;
    qint32 ReminderCount = 5;
    qint32 RingRemindTimer = 30;
    bool ConnectOnStart = false;
    bool AutoOnHoldOnMinimized = false;
    bool OfflineTimeOutEna = false;
    qint32 OfflineTimeOut = 300;
    bool UseEnterKeyToSendMessage = false;
    bool EmptyLineAdd = false;
    qint32 CallDispPosValue = 2; // 0 left top, 1 right top, 2 right bottom
    qint32 ConnectTimeoutValue = 40;
    qint32 RegistrationTimeoutValue = 40;
    // Days the chat archive keeps a chat; 0: no archive.
    qint32 ArchiveDays = 365;
    // The message box's dictionary: empty follows the desktop, "Off" checks nothing.
    QString SpellLanguage;
    // "10:42" before every line of the conversation.
    bool LineTimes = false;
    // Seconds within which a first response counts as on time ("My figures").
    qint32 ResponseTarget = 30;
    // The size the operator last gave a chat window; 0 while never resized.
    // Not on any settings page: the console writes it itself (WriteChatWindowSize).
    qint32 ChatWindowWidth = 0;
    qint32 ChatWindowHeight = 0;
    // Chats as tabs of one window; its size and place (the console writes them).
    bool ChatsInOneWindow = false;
    QString ChatWorkspaceGeometry;

    // [ReConnectProgramSetting]
    bool DisplayNetworkMessages = false;
    bool ReConnectAfterNetError = true;
    qint32 ReConnectIntervals = 5;
    qint32 ReConnectRetriesVal = 15;

    // [SoundSetup]
    QString MainSundFile = QString::fromLatin1(kDefaultRingSoundName);
    QString ChatSoundFile = QString::fromLatin1(kDefaultChatSoundName);
    // Desktop notifications, per kind; NotifyLineText off shows only who wrote.
    bool NotifyNewCalls = true;
    bool NotifyRequests = true;
    bool NotifyVisitorLines = true;
    bool NotifyLineText = true;

    // [TeamArchive]: the team's shared archive, a PostgreSQL connection
    // string or service name (never a password); empty: this computer only.
    QString TeamArchive;
    QString TeamArchiveSchema = QStringLiteral("velmora");

    int ConnectTimeoutMs() const { return SecondsToMs(ConnectTimeoutValue); }
    int RegistrationTimeoutMs() const { return SecondsToMs(RegistrationTimeoutValue); }
    int ReconnectIntervalMs() const { return SecondsToMs(ReConnectIntervals); }

    // A stored period in seconds as a timer interval. The store accepts any
    // number: every period lasts at least 1 s, and huge values give the
    // largest interval instead of overflowing.
    static int SecondsToMs(qint32 seconds);

    bool operator==(const TSettings &) const = default;
};

// The one record the whole program reads.
TSettings &Settings();

// Copies every setting from `store` into `out`, each missing key taking its
// default; EncPassword is decoded into MailPassword. Reads only: timers,
// indicators and messages are the caller's business.
void ReadSettings(const TProgramConfig &store, TSettings &out);

// Stores the chat workspace's size and place in [GeneralProgramSetting].
void WriteChatWorkspaceGeometry(TProgramConfig &store, const QString &geometry);

// Stores the chat windows' last size in [GeneralProgramSetting].
void WriteChatWindowSize(TProgramConfig &store, qint32 width, qint32 height);

// Whether both sound file names name existing files (relative names against
// the current directory).
bool SoundFilesPresent(const TSettings &s);

// The groups of keys the settings dialog applies one at a time, in its order.
enum class SettingsPage { Support, WebAndIp, Colors, General, Sound, Mail, Reconnect, TeamArchive };

// Writes every key of one page, in the order the dialog applies them.
void WriteSettingsPage(TProgramConfig &store, const TSettings &s, SettingsPage page);
// Every page in dialog order; EncPassword receives the scrambled MailPassword.
void WriteSettings(TProgramConfig &store, const TSettings &s);

} // namespace velmora
