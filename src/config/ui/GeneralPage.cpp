#include "config/ui/SetupPages.h"

#include "spell/SpellChecker.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace velmora {

namespace {
QStringList Numbers(std::initializer_list<int> values)
{
    QStringList out;
    for (int v : values)
        out << QString::number(v);
    return out;
}

// The group captions, which also name the fields in the boxes about them.
const char kNotAvailCaption[] = " Not Avail T.O. (in Seconds) ";
const char kReminderCaption[] = " Send Not Avail Reminder every ";
const char kRingRemindCaption[] = " Ring Remind T.O. (in Seconds) ";
const char kOfflineCaption[] = " Offline after T.O. (in Seconds) ";
const char kConnectCaption[] = " Connection time out value (Sec) ";
const char kRegistrationCaption[] = " Registration timeout value (Sec) ";
const char kArchiveCaption[] = " Keep past chats on this computer (days, 0 = off) ";
const char kResponseTargetCaption[] = " Response target (seconds) ";

QGroupBox *Group(QWidget *parent, const QString &caption, QWidget *a, QWidget *b = nullptr)
{
    auto *box = new QGroupBox(caption, parent);
    auto *row = new QHBoxLayout(box);
    row->setContentsMargins(6, 2, 6, 4);
    row->addWidget(a);
    if (b)
        row->addWidget(b);
    return box;
}
} // namespace

TGeneralPage::TGeneralPage(QWidget *parent) : TSetupPage(parent)
{
    const QStringList periods = Numbers({10, 20, 30, 40, 50, 60, 90, 120, 240});
    const QStringList timeouts = Numbers({20, 30, 40, 50, 60});
    NotAvailToComboBox = MakeCombo(QStringLiteral("NotAvailToComboBox"), periods, true);
    NotAvailRemindEveryComboBox =
        MakeCombo(QStringLiteral("NotAvailRemindEveryComboBox"), Numbers({3, 5, 10, 15, 25, 30}), true);
    RingRemindComboBox = MakeCombo(QStringLiteral("RingRemindComboBox"), periods, true);
    OfflineCheckBox = new QCheckBox(QStringLiteral("Enable "), this);
    OfflineCheckBox->setObjectName(QStringLiteral("OfflineCheckBox"));
    Watch(OfflineCheckBox);
    connect(OfflineCheckBox, &QCheckBox::toggled, this, &TGeneralPage::ApplyEnablingRules);
    OfflineTimeOutComboBox =
        MakeCombo(QStringLiteral("OfflineTimeOutComboBox"), Numbers({60, 300, 600, 900, 1200}), true);
    ConnectCheckBox = new QCheckBox(QStringLiteral("Connect "), this);
    ConnectCheckBox->setObjectName(QStringLiteral("ConnectCheckBox"));
    Watch(ConnectCheckBox);
    AutoAnswerCheckBox = new QCheckBox(QStringLiteral("Answer"), this);
    AutoAnswerCheckBox->setObjectName(QStringLiteral("AutoAnswerCheckBox"));
    Watch(AutoAnswerCheckBox);
    ConnectTimeoutComboBox = MakeCombo(QStringLiteral("ConnectTimeoutComboBox"), timeouts, false);
    RegistrationTimeoutComboBox = MakeCombo(QStringLiteral("RegistrationTimeoutComboBox"), timeouts, false);
    UseEnterToSendCheckBox = new QCheckBox(QStringLiteral("Enable"), this);
    UseEnterToSendCheckBox->setObjectName(QStringLiteral("UseEnterToSendCheckBox"));
    Watch(UseEnterToSendCheckBox);
    EmptyLineAddCheckBox = new QCheckBox(QStringLiteral("Enable"), this);
    EmptyLineAddCheckBox->setObjectName(QStringLiteral("EmptyLineAddCheckBox"));
    Watch(EmptyLineAddCheckBox);
    ChatsInOneWindowCheckBox = new QCheckBox(QStringLiteral("Chats in one window"), this);
    ChatsInOneWindowCheckBox->setObjectName(QStringLiteral("ChatsInOneWindowCheckBox"));
    ChatsInOneWindowCheckBox->setToolTip(QStringLiteral("New chats open as tabs of one window beside the call list"));
    Watch(ChatsInOneWindowCheckBox);
    ArchiveDaysComboBox = MakeCombo(QStringLiteral("ArchiveDaysComboBox"), Numbers({0, 30, 90, 365, 730}), true);
    SpellLanguageComboBox = MakeCombo(QStringLiteral("SpellLanguageComboBox"), {}, false);
    SpellLanguageComboBox->addItem(QStringLiteral("Desktop language (%1)").arg(DesktopSpellLanguage()), QString());
    for (const QString &language : SpellLanguages())
        SpellLanguageComboBox->addItem(language, language);
    SpellLanguageComboBox->addItem(QString::fromLatin1(kSpellOff), QString::fromLatin1(kSpellOff));
    connect(SpellLanguageComboBox, &QComboBox::currentIndexChanged, this, &TGeneralPage::ShowSpellStatus);
    SpellStatusLabel = new QLabel(this);
    SpellStatusLabel->setObjectName(QStringLiteral("SpellStatusLabel"));
    SpellStatusLabel->setTextFormat(Qt::PlainText);
    SpellStatusLabel->setWordWrap(true);
    LineTimesCheckBox = new QCheckBox(QStringLiteral("Show the time of every line"), this);
    LineTimesCheckBox->setObjectName(QStringLiteral("LineTimesCheckBox"));
    Watch(LineTimesCheckBox);
    ResponseTargetComboBox = MakeCombo(QStringLiteral("ResponseTargetComboBox"), Numbers({15, 30, 60, 120}), true);
    ResponseTargetComboBox->setToolTip(QStringLiteral("\"My figures\" counts the chats first answered within this time"));

    auto *positions = new QGroupBox(QStringLiteral(" Call Alert Display Position "), this);
    auto *positionColumn = new QVBoxLayout(positions);
    CallDispPosRadioGroup = new QButtonGroup(this);
    int id = 0;
    for (const char *caption : {"Screen Left Top", "Screen Right Top", "Screen Right Bottom"}) {
        auto *radio = new QRadioButton(QString::fromLatin1(caption), positions);
        radio->setObjectName(QStringLiteral("CallDispPos%1").arg(id));
        CallDispPosRadioGroup->addButton(radio, id++);
        positionColumn->addWidget(radio);
    }
    Watch(CallDispPosRadioGroup);
    PlacementNoteLabel = new QLabel(QStringLiteral("This desktop places windows itself: alerts open where it puts them, "
                                                   "whatever is chosen here. The choice is kept for other desktops."),
                                    positions);
    PlacementNoteLabel->setObjectName(QStringLiteral("PlacementNoteLabel"));
    PlacementNoteLabel->setWordWrap(true);
    PlacementNoteLabel->hide();
    positionColumn->addWidget(PlacementNoteLabel);
    // A Wayland compositor ignores where a program asks to put its windows.
    ShowPlacementAsHint(QGuiApplication::platformName().startsWith(QLatin1String("wayland")));

    auto *grid = new QGridLayout(this);
    auto caption = [](const char *text) { return QString::fromLatin1(text); };
    grid->addWidget(Group(this, caption(kNotAvailCaption), NotAvailToComboBox), 0, 0);
    grid->addWidget(Group(this, caption(kReminderCaption), NotAvailRemindEveryComboBox), 0, 1);
    grid->addWidget(Group(this, caption(kRingRemindCaption), RingRemindComboBox), 1, 0);
    grid->addWidget(Group(this, caption(kOfflineCaption), OfflineCheckBox, OfflineTimeOutComboBox), 1, 1);
    grid->addWidget(Group(this, QStringLiteral(" Connect On Start Up "), ConnectCheckBox), 2, 0);
    grid->addWidget(Group(this, QStringLiteral(" Auto Answer On Minimize "), AutoAnswerCheckBox), 2, 1);
    grid->addWidget(Group(this, caption(kConnectCaption), ConnectTimeoutComboBox), 3, 0);
    grid->addWidget(Group(this, caption(kRegistrationCaption), RegistrationTimeoutComboBox), 3, 1);
    grid->addWidget(Group(this, QStringLiteral(" Use the Enter Key to send "), UseEnterToSendCheckBox), 4, 0);
    grid->addWidget(Group(this, QStringLiteral(" Empty line between messages "), EmptyLineAddCheckBox), 4, 1);
    grid->addWidget(positions, 5, 0, 1, 2);
    grid->addWidget(ChatsInOneWindowCheckBox, 6, 0, 1, 2);
    grid->addWidget(Group(this, caption(kArchiveCaption), ArchiveDaysComboBox), 7, 0);
    grid->addWidget(Group(this, caption(kResponseTargetCaption), ResponseTargetComboBox), 7, 1);
    grid->addWidget(Group(this, QStringLiteral(" Spelling language "), SpellLanguageComboBox, SpellStatusLabel), 8, 0, 1, 2);
    grid->addWidget(LineTimesCheckBox, 9, 0, 1, 2);
    grid->setRowStretch(10, 1);
}

void TGeneralPage::ShowPlacementAsHint(bool desktopPlaces)
{
    // The radios stay readable (the same settings file may serve an X11
    // session), but cannot be changed where they would do nothing.
    for (QAbstractButton *radio : CallDispPosRadioGroup->buttons())
        radio->setEnabled(!desktopPlaces);
    PlacementNoteLabel->setVisible(desktopPlaces);
}

void TGeneralPage::ShowSpellStatus()
{
    QString why;
    const QString chosen = SpellLanguageComboBox->currentData().toString();
    if (!SpellCheckerFor(chosen, &why) && !why.isEmpty())
        why += QStringLiteral(" Messages are not checked.");
    SpellStatusLabel->setText(why);
    SpellStatusLabel->setVisible(!why.isEmpty());
}

void TGeneralPage::ApplyEnablingRules()
{
    OfflineTimeOutComboBox->setEnabled(OfflineCheckBox->isChecked());
}

void TGeneralPage::Fill(const TSettings &s)
{
    // Editable lists show the stored number whether or not it is an item.
    NotAvailToComboBox->setEditText(QString::number(s.NotAvailTimeOut));
    NotAvailRemindEveryComboBox->setEditText(QString::number(s.ReminderCount));
    RingRemindComboBox->setEditText(QString::number(s.RingRemindTimer));
    OfflineCheckBox->setChecked(s.OfflineTimeOutEna);
    OfflineTimeOutComboBox->setEditText(QString::number(s.OfflineTimeOut));
    ConnectCheckBox->setChecked(s.ConnectOnStart);
    AutoAnswerCheckBox->setChecked(s.AutoOnHoldOnMinimized);
    SelectNumber(ConnectTimeoutComboBox, s.ConnectTimeoutValue, 3);
    SelectNumber(RegistrationTimeoutComboBox, s.RegistrationTimeoutValue, 3);
    UseEnterToSendCheckBox->setChecked(s.UseEnterKeyToSendMessage);
    EmptyLineAddCheckBox->setChecked(s.EmptyLineAdd);
    ChatsInOneWindowCheckBox->setChecked(s.ChatsInOneWindow);
    ArchiveDaysComboBox->setEditText(QString::number(s.ArchiveDays));
    int language = SpellLanguageComboBox->findData(s.SpellLanguage.trimmed(), Qt::UserRole, Qt::MatchFixedString);
    if (language < 0) {
        // A dictionary that is no longer installed stays chosen, and says so.
        SpellLanguageComboBox->addItem(s.SpellLanguage, s.SpellLanguage);
        language = SpellLanguageComboBox->count() - 1;
    }
    SpellLanguageComboBox->setCurrentIndex(language);
    ShowSpellStatus();
    LineTimesCheckBox->setChecked(s.LineTimes);
    ResponseTargetComboBox->setEditText(QString::number(s.ResponseTarget));
    if (QAbstractButton *b = CallDispPosRadioGroup->button(s.CallDispPosValue))
        b->setChecked(true);
    else {
        // A value outside the three positions: none is shown as chosen.
        CallDispPosRadioGroup->setExclusive(false);
        for (QAbstractButton *radio : CallDispPosRadioGroup->buttons())
            radio->setChecked(false);
        CallDispPosRadioGroup->setExclusive(true);
    }
    ApplyEnablingRules();
}

bool TGeneralPage::Collect(TSettings &s)
{
    // Every number first, in the page's order: one that does not convert
    // stops the apply before anything has changed.
    struct Source {
        QComboBox *combo;
        const char *name;
        qint32 min;
    };
    // A not-available text more often than this would flood a waiting visitor.
    constexpr qint32 kMinNotAvailSeconds = 10;
    const Source sources[8] = {{NotAvailToComboBox, kNotAvailCaption, kMinNotAvailSeconds},
                               {NotAvailRemindEveryComboBox, kReminderCaption, std::numeric_limits<qint32>::min()},
                               {RingRemindComboBox, kRingRemindCaption, std::numeric_limits<qint32>::min()},
                               {OfflineTimeOutComboBox, kOfflineCaption, std::numeric_limits<qint32>::min()},
                               {ConnectTimeoutComboBox, kConnectCaption, std::numeric_limits<qint32>::min()},
                               {RegistrationTimeoutComboBox, kRegistrationCaption, std::numeric_limits<qint32>::min()},
                               {ArchiveDaysComboBox, kArchiveCaption, 0},
                               {ResponseTargetComboBox, kResponseTargetCaption, 1}};
    std::optional<qint32> numbers[8];
    for (int i = 0; i < 8; ++i) {
        numbers[i] = ToInteger(sources[i].combo, QString::fromLatin1(sources[i].name), sources[i].min);
        if (!numbers[i])
            return false;
    }
    s.NotAvailTimeOut = *numbers[0];
    s.ReminderCount = *numbers[1];
    s.RingRemindTimer = *numbers[2];
    s.ConnectOnStart = ConnectCheckBox->isChecked();
    s.AutoOnHoldOnMinimized = AutoAnswerCheckBox->isChecked();
    s.OfflineTimeOut = *numbers[3];
    s.OfflineTimeOutEna = OfflineCheckBox->isChecked();
    s.ConnectTimeoutValue = *numbers[4];
    s.RegistrationTimeoutValue = *numbers[5];
    s.UseEnterKeyToSendMessage = UseEnterToSendCheckBox->isChecked();
    s.EmptyLineAdd = EmptyLineAddCheckBox->isChecked();
    s.ChatsInOneWindow = ChatsInOneWindowCheckBox->isChecked();
    s.ArchiveDays = *numbers[6];
    s.SpellLanguage = SpellLanguageComboBox->currentData().toString();
    s.LineTimes = LineTimesCheckBox->isChecked();
    s.ResponseTarget = *numbers[7];
    if (CallDispPosRadioGroup->checkedId() >= 0)
        s.CallDispPosValue = CallDispPosRadioGroup->checkedId();
    return true;
}

} // namespace velmora
