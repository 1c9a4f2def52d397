#include "chat/ChatPictures.h"

#if __has_include("Resources.h")
#include "Resources.h"
#define VELMORA_CHAT_PICTURES 1
#endif

namespace velmora {

QPixmap ChatGlyph([[maybe_unused]] const char *name)
{
#ifdef VELMORA_CHAT_PICTURES
    return Glyph(name);
#else
    return {};
#endif
}

void SetChatGlyph(QAbstractButton &button, const char *name, const QString &fallback)
{
    button.setIcon(ChatGlyph(name));
    if (button.icon().isNull())
        button.setText(fallback);
}

QIcon ChatStatusIcon([[maybe_unused]] int index)
{
#ifdef VELMORA_CHAT_PICTURES
    return StatusIcon(index);
#else
    return {};
#endif
}

} // namespace velmora
