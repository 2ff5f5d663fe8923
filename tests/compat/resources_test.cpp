// The program's compiled resources, as the layer reads them: both dialogs in
// the classic form with every control where the windows expect it, the
// context menu, the icon groups, the version block and the manifest.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "resources/resource_file.h"

namespace {

using compat::res::DialogTemplate;
using compat::res::find_resource;

const DWORD kDialogStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                           DS_3DLOOK | DS_FIXEDSYS | DS_CENTER | DS_SETFONT;

struct ControlRow {
    WORD id;
    const char *class_name;
    const char *text;
    short x, y, cx, cy;
    DWORD style;  // besides WS_CHILD | WS_VISIBLE
};

DialogTemplate LoadDialog(WORD id) {
    const compat::res::Entry *e = find_resource(compat::res::kTypeDialog, MAKEINTRESOURCEA(id));
    DialogTemplate t;
    EXPECT_NE(e, nullptr) << "dialog " << id;
    if (e) {
        EXPECT_TRUE(compat::res::parse_dialog(e->data, e->size, t)) << "dialog " << id;
        EXPECT_EQ(e->language, 0) << "dialog " << id << " is LANG_NEUTRAL";
    }
    return t;
}

void ExpectDialog(WORD id, const char *title, short cx, short cy, const ControlRow *rows,
                  size_t count) {
    DialogTemplate t = LoadDialog(id);
    EXPECT_FALSE(t.extended) << "dialog " << id;
    EXPECT_EQ(t.style, kDialogStyle) << "dialog " << id;
    EXPECT_EQ(t.ex_style, 0u) << "dialog " << id;
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, cx) << "dialog " << id;
    EXPECT_EQ(t.cy, cy) << "dialog " << id;
    EXPECT_FALSE(t.menu.present) << "dialog " << id;
    EXPECT_FALSE(t.window_class.present) << "dialog " << id;
    EXPECT_EQ(t.title, title) << "dialog " << id;
    EXPECT_EQ(t.point_size, 8);
    EXPECT_EQ(t.font, "Ms Shell Dlg");
    ASSERT_EQ(t.items.size(), count) << "dialog " << id;
    for (size_t i = 0; i < count; ++i) {
        const ControlRow &row = rows[i];
        const compat::res::DialogItem &item = t.items[i];
        SCOPED_TRACE("dialog " + std::to_string(id) + ", control " + std::to_string(row.id));
        EXPECT_EQ(item.id, row.id);
        EXPECT_EQ(item.class_name, row.class_name);
        EXPECT_EQ(item.text.text, row.text);
        EXPECT_EQ(item.x, row.x);
        EXPECT_EQ(item.y, row.y);
        EXPECT_EQ(item.cx, row.cx);
        EXPECT_EQ(item.cy, row.cy);
        EXPECT_EQ(item.style, row.style | WS_CHILD | WS_VISIBLE);
        EXPECT_EQ(item.ex_style, 0u);
    }
}

TEST(Resources, MainDialog) {
    const ControlRow rows[] = {
        {1001, "BUTTON", "查询", 4, 150, 50, 15, BS_DEFPUSHBUTTON | WS_TABSTOP},
        {1000, "BUTTON", "关于", 213, 150, 50, 15, BS_PUSHBUTTON | WS_TABSTOP},
        {1002, "EDIT", "", 5, 17, 257, 129,
         ES_MULTILINE | ES_AUTOHSCROLL | ES_WANTRETURN | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
        {65535, "STATIC", "输入IP地址，每行一个（可用*号查询整个IP段）：", 5, 3, 177, 8,
         SS_LEFT | WS_GROUP},
    };
    ExpectDialog(106, "Quorvane", 268, 168, rows, sizeof rows / sizeof rows[0]);
}

TEST(Resources, ResultsDialog) {
    const ControlRow rows[] = {
        {2, "BUTTON", "关闭", 243, 218, 50, 14, BS_PUSHBUTTON | WS_TABSTOP},
        {1003, "LISTBOX", "", 4, 6, 290, 207,
         LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | LBS_EXTENDEDSEL | WS_VSCROLL | WS_HSCROLL |
             WS_BORDER | WS_TABSTOP},
        {1001, "BUTTON", "保存到文件...", 4, 218, 68, 14, BS_PUSHBUTTON | WS_TABSTOP},
    };
    ExpectDialog(101, "检查结果", 298, 236, rows, sizeof rows / sizeof rows[0]);
}

TEST(Resources, ContextMenuHoldsCopy) {
    const compat::res::Entry *e = find_resource(compat::res::kTypeMenu, MAKEINTRESOURCEA(103));
    ASSERT_NE(e, nullptr);
    std::vector<compat::res::MenuItem> top;
    ASSERT_TRUE(compat::res::parse_menu(e->data, e->size, top));
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].text, "编辑");
    ASSERT_EQ(top[0].children.size(), 1u);
    EXPECT_EQ(top[0].children[0].id, 40000);
    EXPECT_EQ(top[0].children[0].text, "复制");
}

TEST(Resources, IconGroupsVersionAndManifest) {
    for (WORD id : {103, 104, 105})
        EXPECT_NE(find_resource(compat::res::kTypeGroupIcon, MAKEINTRESOURCEA(id)), nullptr)
            << "icon group " << id;
    const compat::res::Entry *v = find_resource(compat::res::kTypeVersion, MAKEINTRESOURCEA(2));
    ASSERT_NE(v, nullptr);
    compat::res::FixedVersion fixed;
    ASSERT_TRUE(compat::res::parse_version(v->data, v->size, fixed));
    EXPECT_EQ(fixed.file_version_ms, 0x00010002u);
    EXPECT_EQ(fixed.file_version_ls, 0u);
    EXPECT_EQ(fixed.product_version_ms, 0x00010002u);
    EXPECT_EQ(fixed.product_version_ls, 0u);
    EXPECT_EQ(fixed.os, 0x00040004u);
    EXPECT_EQ(fixed.file_type, 1u);
    EXPECT_EQ(fixed.flags_mask, 0u);
    EXPECT_FALSE(fixed.has_children) << "no string or translation table";

    const compat::res::Entry *m = find_resource(compat::res::kTypeManifest, MAKEINTRESOURCEA(1));
    ASSERT_NE(m, nullptr);
    std::string manifest(reinterpret_cast<const char *>(m->data), m->size);
    EXPECT_NE(manifest.find("name=\"XP style manifest\""), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos);
}

}  // namespace
