#pragma once
// The help context numbers windows pass to the help window (F1, Help buttons);
// the help window maps each to its page.
namespace velmora {

enum HelpContext : int {
    CallListContext = 14,
    SetupContext = 17,
    LoadConfigContext = 25,
    SaveConfigAsContext = 26,
    ExitContext = 27,
    ClearHistoryContext = 28,
    HelpOnHelpContext = 31,
    ContentsContext = 32,
    KeywordSearchContext = 33,
    AboutContext = 34,
    KeyboardContext = 35,
    ChatWindowContext = 40,
    // The settings dialog, one per page.
    SupportSetupContext = 55,
    WebSetupContext = 56,
    ColorsSetupContext = 57,
    GeneralSetupContext = 58,
    SoundSetupContext = 59,
    MailSetupContext = 60,
    ReconnectSetupContext = 61,
    TeamArchiveSetupContext = 62,
    CannedEditorContext = 123,
    UrlEditorContext = 126,
    MyFiguresContext = 130,
};

} // namespace velmora
