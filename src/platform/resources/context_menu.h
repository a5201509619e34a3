// The context menu (resource 102), described once for every host: the Windows
// resource script is generated from this table, and the portable hosts build
// their popup from it. Texts are Shift-JIS (code page 932) bytes.
#pragma once

struct ContextMenuItem {
  unsigned id;      // command id, 0 for a separator
  const char *name; // the command's name in the source
  const char *text; // Shift-JIS bytes; null for a separator
};

// "表示切り替え(&V)", "次のフェース(&N)", "前のフェース(&P)", "拡大(&E)",
// "縮小(&R)", "Windowsキー(&W)", "半透明(&T)", "終了(&X)".
inline constexpr ContextMenuItem kContextMenuItems[] = {
    {40004, "ID_TOGGLE_DISPLAY",
     "\x95\x5c\x8e\xa6\x90\xd8\x82\xe8\x91\xd6\x82\xa6(&V)"},
    {0, nullptr, nullptr},
    {40002, "ID_NEXT_FACE",
     "\x8e\x9f\x82\xcc\x83\x74\x83\x46\x81\x5b\x83\x58(&N)"},
    {40003, "ID_PREV_FACE",
     "\x91\x4f\x82\xcc\x83\x74\x83\x46\x81\x5b\x83\x58(&P)"},
    {0, nullptr, nullptr},
    {40005, "ID_ENLARGE", "\x8a\x67\x91\xe5(&E)"},
    {40006, "ID_SHRINK", "\x8f\x6b\x8f\xac(&R)"},
    {0, nullptr, nullptr},
    {40007, "ID_WINKEY", "Windows\x83\x4c\x81\x5b(&W)"},
    {40008, "ID_TRANSLUCENT", "\x94\xbc\x93\xa7\x96\xbe(&T)"},
    {0, nullptr, nullptr},
    {40001, "ID_EXIT", "\x8f\x49\x97\xb9(&X)"},
};
inline constexpr int kContextMenuItemCount =
    sizeof(kContextMenuItems) / sizeof(kContextMenuItems[0]);
