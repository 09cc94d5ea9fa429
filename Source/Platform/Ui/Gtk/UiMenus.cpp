// Menus of the GTK backend. A menu is a list of items kept by the layer; GTK widgets are built from it
// when it is shown as a window's menu bar or as a pop-up, and rebuilt when items are added.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include <vector>

namespace Vexel::Ui::Gtk
{

namespace
{
struct MenuItem
{
    _dword flags = 0;
    _dword command = 0;
    String text;
    MenuId subMenu = 0;
    GdkPixbuf* image = nullptr;
    bool separator = false;
};

struct Menu
{
    std::vector<MenuItem> items;
    GtkWidget* shell = nullptr;          // the widget built for it (bar or pop-up), if shown
    std::vector<GtkWidget*> itemWidgets; // the item widgets of shell, by index
    WindowId window = 0;                 // where its commands go
    bool isBar = false;
};

std::map<MenuId, Menu>& Menus()
{
    static std::map<MenuId, Menu> menus;
    return menus;
}

MenuId gNextMenu = 1;

Menu* FindMenu(MenuId id)
{
    auto it = Menus().find(id);
    return it == Menus().end() ? nullptr : &it->second;
}

struct Activation
{
    MenuId root;
    _dword command;
};

void OnActivate(GtkMenuItem*, gpointer data)
{
    auto* activation = static_cast<Activation*>(data);
    Menu* root = FindMenu(activation->root);
    if (root && root->window)
        PostUiMessage(root->window, _WM_COMMAND, MakeWParam(static_cast<int>(activation->command), 0), 0);
}

void FreeActivation(gpointer data, GClosure*)
{
    delete static_cast<Activation*>(data);
}

// A command item right in the bar acts on a plain click; GTK would only take a slow one, since a quick
// release there normally leaves a drop-down menu open.
gboolean OnBarItemRelease(GtkWidget* widget, GdkEventButton* event, gpointer data)
{
    if (event->button != 1)
        return FALSE;
    GtkWidget* shell = gtk_widget_get_parent(widget);
    if (GTK_IS_MENU_SHELL(shell))
        gtk_menu_shell_deactivate(GTK_MENU_SHELL(shell));
    OnActivate(GTK_MENU_ITEM(widget), data);
    return TRUE;
}

GtkWidget* BuildShell(MenuId id, MenuId root, bool bar, std::vector<GtkWidget*>* itemWidgets, int depth);

GtkWidget* BuildItem(const MenuItem& item, MenuId root, int depth, bool bar)
{
    if (item.separator)
        return gtk_separator_menu_item_new();
    GtkWidget* widget = gtk_menu_item_new();
    std::string text = Utf8(item.text);
    GtkWidget* label = gtk_label_new(text.c_str());
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    if (item.image)
    {
        GtkWidget* box = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
        gtk_box_pack_start(GTK_BOX(box), gtk_image_new_from_pixbuf(item.image), FALSE, FALSE, 0);
        if (!text.empty())
            gtk_box_pack_start(GTK_BOX(box), label, TRUE, TRUE, 0);
        else
            g_object_ref_sink(label), g_object_unref(label);
        gtk_container_add(GTK_CONTAINER(widget), box);
    }
    else
        gtk_container_add(GTK_CONTAINER(widget), label);
    if (item.flags & _MF_GRAYED)
        gtk_widget_set_sensitive(widget, FALSE);
    if (item.subMenu && depth < 16)
    {
        Menu* subMenu = FindMenu(item.subMenu);
        std::vector<GtkWidget*>* subItems = subMenu ? &subMenu->itemWidgets : nullptr;
        if (subItems)
            subItems->clear();
        if (GtkWidget* sub = BuildShell(item.subMenu, root, false, subItems, depth + 1))
            gtk_menu_item_set_submenu(GTK_MENU_ITEM(widget), sub);
    }
    else if (!item.subMenu && depth == 0 && bar)
        g_signal_connect_data(widget, "button-release-event", G_CALLBACK(OnBarItemRelease),
                              new Activation{root, item.command}, FreeActivation,
                              static_cast<GConnectFlags>(0));
    else if (!item.subMenu)
        g_signal_connect_data(widget, "activate", G_CALLBACK(OnActivate), new Activation{root, item.command},
                              FreeActivation, static_cast<GConnectFlags>(0));
    return widget;
}

GtkWidget* BuildShell(MenuId id, MenuId root, bool bar, std::vector<GtkWidget*>* itemWidgets, int depth)
{
    Menu* menu = FindMenu(id);
    if (!menu)
        return nullptr;
    GtkWidget* shell = bar ? gtk_menu_bar_new() : gtk_menu_new();
    bool right = false;
    for (const MenuItem& item : menu->items)
    {
        GtkWidget* widget = BuildItem(item, root, depth, bar);
        // In a bar, a right-justified item and everything after it go to the right end.
        right = right || (bar && (item.flags & _MF_RIGHTJUSTIFY));
        if (right)
        {
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            gtk_menu_item_set_right_justified(GTK_MENU_ITEM(widget), TRUE);
            G_GNUC_END_IGNORE_DEPRECATIONS
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(shell), widget);
        if (itemWidgets)
            itemWidgets->push_back(widget);
    }
    gtk_widget_show_all(shell);
    return shell;
}

// The item widgets recorded for sub-menus go with the shell that holds them.
void ForgetItems(Menu& menu, int depth)
{
    for (const MenuItem& item : menu.items)
        if (Menu* sub = item.subMenu && depth < 16 ? FindMenu(item.subMenu) : nullptr)
        {
            if (!sub->shell)
                sub->itemWidgets.clear();
            ForgetItems(*sub, depth + 1);
        }
}

void DropShell(Menu& menu)
{
    ForgetItems(menu, 0);
    if (menu.shell)
    {
        gtk_widget_destroy(menu.shell);
        g_object_unref(menu.shell);
    }
    menu.shell = nullptr;
    menu.itemWidgets.clear();
}

// Builds the bar widget of a menu attached to a window and puts it above the window's body.
void AttachBar(WindowRecord& record, MenuId id)
{
    Menu* menu = FindMenu(id);
    if (!menu || !record.mBox)
        return;
    if (menu->window && menu->window != record.mId)
        if (WindowRecord* other = FindRecord(menu->window); other && other->mMenu == id)
            ReleaseMenuBar(*other); // a menu shows in one window at a time
    DropShell(*menu);
    menu->isBar = true;
    menu->window = record.mId;
    menu->shell = BuildShell(id, id, true, &menu->itemWidgets, 0);
    g_object_ref_sink(menu->shell);
    gtk_box_pack_start(GTK_BOX(record.mBox), menu->shell, FALSE, FALSE, 0);
    record.mMenuBar = menu->shell;
    record.mMenu = id;
    NotifyGeometry(record, true);
}

// Menus that show this one (itself, or as a sub-menu) are rebuilt when it changes.
void Refresh(MenuId changed)
{
    for (auto& [id, menu] : Menus())
    {
        if (!menu.shell || !menu.isBar)
            continue;
        bool uses = id == changed;
        for (const MenuItem& item : menu.items)
            uses = uses || item.subMenu == changed;
        if (!uses)
            continue;
        if (WindowRecord* record = FindRecord(menu.window))
        {
            if (record->mMenuBar == menu.shell)
            {
                gtk_container_remove(GTK_CONTAINER(record->mBox), menu.shell);
                record->mMenuBar = nullptr;
            }
            AttachBar(*record, id);
        }
    }
}
} // namespace

void ReleaseMenuBar(WindowRecord& record)
{
    if (!record.mMenuBar)
        return;
    if (Menu* menu = FindMenu(record.mMenu))
    {
        if (record.mBox)
            gtk_container_remove(GTK_CONTAINER(record.mBox), menu->shell);
        DropShell(*menu);
        menu->window = 0;
        menu->isBar = false;
    }
    record.mMenuBar = nullptr;
    record.mMenu = 0;
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{
using namespace Gtk;

MenuId NewMenu()
{
    if (!InitUi())
        return 0;
    MenuId id = gNextMenu++;
    Menus()[id];
    return id;
}

bool DeleteUiMenu(MenuId menu)
{
    Menu* found = FindMenu(menu);
    if (!found)
        return false;
    if (WindowRecord* record = FindRecord(found->window); record && record->mMenu == menu)
        ReleaseMenuBar(*record);
    DropShell(*found);
    for (MenuItem& item : found->items)
        if (item.image)
            g_object_unref(item.image);
    Menus().erase(menu);
    return true;
}

bool AppendMenuItem(MenuId menu, _dword flags, _dword commandId, const String& text, const UiImage* image)
{
    Menu* found = FindMenu(menu);
    if (!found)
        return false;
    MenuItem item;
    item.flags = flags;
    item.command = commandId;
    item.text = text;
    item.separator = (flags & _MF_SEPARATOR) != 0;
    item.image = image ? ImageToPixbuf(*image) : nullptr;
    found->items.push_back(item);
    Refresh(menu);
    return true;
}

bool AppendSubMenu(MenuId menu, MenuId subMenu, const String& text, _dword flags)
{
    Menu* found = FindMenu(menu);
    if (!found || !FindMenu(subMenu) || subMenu == menu)
        return false;
    MenuItem item;
    item.flags = flags;
    item.text = text;
    item.subMenu = subMenu;
    found->items.push_back(item);
    Refresh(menu);
    return true;
}

bool AppendMenuSeparator(MenuId menu)
{
    return AppendMenuItem(menu, _MF_SEPARATOR, 0, {});
}

_dword GetMenuItemCount(MenuId menu)
{
    Menu* found = FindMenu(menu);
    return found ? static_cast<_dword>(found->items.size()) : 0;
}

bool SetWindowMenuBar(WindowId window, MenuId menu)
{
    WindowRecord* record = FindRecord(window);
    if (!record || !record->mTop || !record->mBox || (menu && !FindMenu(menu)))
        return false;
    ReleaseMenuBar(*record);
    if (menu)
        AttachBar(*record, menu);
    else
        NotifyGeometry(*record, true);
    return true;
}

bool GetMenuItemBounds(MenuId menu, _dword index, Rect& rect)
{
    Menu* found = FindMenu(menu);
    if (!found || index >= found->itemWidgets.size())
        return false;
    GtkWidget* widget = found->itemWidgets[index];
    if (!gtk_widget_get_mapped(widget))
        return false;
    GtkWidget* top = gtk_widget_get_toplevel(widget);
    int x = 0;
    int y = 0;
    if (!gtk_widget_translate_coordinates(widget, top, 0, 0, &x, &y))
        return false;
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(gtk_widget_get_window(top), &originX, &originY);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    rect = Rect::FromSize(originX + x, originY + y, allocation.width, allocation.height);
    return true;
}

bool PopupMenuAt(MenuId menu, WindowId owner, int screenX, int screenY)
{
    Menu* found = FindMenu(menu);
    WindowRecord* record = FindRecord(owner);
    if (!found || !record || found->isBar)
        return false;
    GtkWindow* top = ToplevelOf(*record);
    if (!top || !gtk_widget_get_window(GTK_WIDGET(top)))
        return false;
    DropShell(*found);
    found->window = owner;
    found->shell = BuildShell(menu, menu, false, &found->itemWidgets, 0);
    g_object_ref_sink(found->shell);
    gtk_menu_attach_to_widget(GTK_MENU(found->shell), GTK_WIDGET(top), nullptr);
    // The messages that lead here carry no GTK event to anchor the menu on, so it is placed by hand.
    static Point place;
    place = {screenX, screenY};
    auto position = [](GtkMenu*, gint* x, gint* y, gboolean* pushIn, gpointer)
    {
        *x = place.x;
        *y = place.y;
        *pushIn = TRUE;
    };
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_menu_popup(GTK_MENU(found->shell), nullptr, nullptr, position, nullptr, 0,
                   gtk_get_current_event_time());
    G_GNUC_END_IGNORE_DEPRECATIONS
    return true;
}

} // namespace Vexel::Ui
