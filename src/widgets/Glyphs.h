#pragma once
// The program's small pictures, drawn in code so that they are sharp at any scale and need no
// image files: tool bar buttons, the on/off check marks of the sample list, the program icon.

#include <QIcon>

enum class TGlyph {
    Add,
    Delete,
    Properties,
    Toggle,
    Enable,
    Disable,
    EnableAll,
    DisableAll,
    Find,
    CheckOff,
    CheckOn,
    Program,
};

QIcon GlyphIcon(TGlyph Glyph);
