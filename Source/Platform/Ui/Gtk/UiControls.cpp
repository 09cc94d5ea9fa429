// Standard controls (push button, check box, drop-down combo box, hot-key box) as child windows of the
// GTK backend, and modal message boxes.
#include "Platform/Ui/Gtk/UiGtkPrivate.h"

#include <cstdio>

namespace Vexel::Ui::Gtk
{

struct ControlState
{
    _dword hotKey = 0;
    bool quiet = false; // set while the program changes the control: no notification
    GtkCssProvider* css = nullptr;
};

struct MessageBoxState
{
    int answer = -1; // -1 while open
    bool hasCancel = false;
    bool hasNo = false;
    bool okOnly = false;
    std::vector<int> buttons;
};

namespace
{
WindowRecord* ControlRecord(WindowId window, ControlKind kind)
{
    WindowRecord* record = FindRecord(window);
    return record && record->mIsControl && record->mControlKind == kind ? record : nullptr;
}

void Notify(WindowId control, _dword code)
{
    WindowRecord* record = FindRecord(control);
    if (!record || !record->mControl || record->mControl->quiet)
        return;
    SendUiMessage(record->mParent, _WM_COMMAND,
                  MakeWParam(static_cast<int>(record->mControlId), static_cast<int>(code)),
                  static_cast<LParam>(control));
}

void OnClicked(GtkButton*, gpointer data)
{
    Notify(GPOINTER_TO_UINT(data), _BN_CLICKED);
}
void OnToggled(GtkToggleButton*, gpointer data)
{
    Notify(GPOINTER_TO_UINT(data), _BN_CLICKED);
}
// The combo box whose choice "changed" has just ended: an item picked from the list closes the list
// before the combo box takes it, so the item's own activation that follows must not end it again.
WindowId gChoiceJustEnded = 0;

gboolean ForgetEndedChoice(gpointer)
{
    gChoiceJustEnded = 0;
    return G_SOURCE_REMOVE;
}

void OnComboChanged(GtkComboBox* combo, gpointer data)
{
    Notify(GPOINTER_TO_UINT(data), _CBN_SELCHANGE);
    // A change made with the list closed (keys, wheel, or an item the closing list hands over) is a whole
    // choice; from the open list the item's activation ends it.
    gboolean shown = FALSE;
    g_object_get(combo, "popup-shown", &shown, nullptr);
    if (!shown)
    {
        Notify(GPOINTER_TO_UINT(data), _CBN_SELENDOK);
        if (gChoiceJustEnded == 0)
            g_idle_add(ForgetEndedChoice, nullptr);
        gChoiceJustEnded = GPOINTER_TO_UINT(data);
    }
}

void OnComboItemActivated(GtkMenuItem*, gpointer data)
{
    if (gChoiceJustEnded == GPOINTER_TO_UINT(data))
    {
        gChoiceJustEnded = 0;
        return;
    }
    Notify(GPOINTER_TO_UINT(data), _CBN_SELENDOK);
}

// The list's items are made by the combo box itself: picking the chosen item again changes nothing and
// so sends no "changed"; the items' own activation tells every choice. Connected as the list opens, once
// per item.
void OnComboPopupShown(GObject* object, GParamSpec*, gpointer data)
{
    gboolean shown = FALSE;
    g_object_get(object, "popup-shown", &shown, nullptr);
    if (!shown)
        return;
    AtkObject* accessible = gtk_combo_box_get_popup_accessible(GTK_COMBO_BOX(object));
    GtkWidget* popup = accessible && GTK_IS_ACCESSIBLE(accessible)
                           ? gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible))
                           : nullptr;
    if (!popup || !GTK_IS_MENU_SHELL(popup))
        return;
    GList* items = gtk_container_get_children(GTK_CONTAINER(popup));
    for (GList* at = items; at; at = at->next)
    {
        GObject* item = G_OBJECT(at->data);
        if (!GTK_IS_MENU_ITEM(item) || g_object_get_data(item, "vexel-choice"))
            continue;
        g_object_set_data(item, "vexel-choice", GINT_TO_POINTER(1));
        g_signal_connect_after(item, "activate", G_CALLBACK(OnComboItemActivated), data);
    }
    g_list_free(items);
}

void ShowHotKey(WindowRecord& record, _dword value)
{
    gtk_entry_set_text(GTK_ENTRY(record.mBody), Utf8(HotKeyText(value)).c_str());
    gtk_editable_set_position(GTK_EDITABLE(record.mBody), -1);
}

bool IsModifierKey(_dword vk)
{
    return vk == _VK_SHIFT || vk == _VK_CONTROL || vk == _VK_MENU || vk == _VK_LWIN || vk == _VK_RWIN;
}

_dword ModifierFlagOf(_dword vk)
{
    return vk == _VK_SHIFT     ? _HOTKEYF_SHIFT
           : vk == _VK_CONTROL ? _HOTKEYF_CONTROL
           : vk == _VK_MENU    ? _HOTKEYF_ALT
                               : 0;
}

gboolean OnHotKeyPress(GtkWidget*, GdkEventKey* event, gpointer data)
{
    WindowId id = GPOINTER_TO_UINT(data);
    WindowRecord* record = ControlRecord(id, ControlKind::HotKeyBox);
    if (!record)
        return FALSE;
    _dword vk = VirtualKeyFromEvent(event);
    _dword modifiers = HotKeyModifiersFromState(event->state);
    if (vk == _VK_TAB && modifiers == 0)
        return FALSE; // Tab still moves the focus
    if (vk == 0)
        return TRUE;
    if (IsModifierKey(vk))
    {
        // While only modifiers are held the box shows them, as the Windows control does.
        ShowHotKey(*record, (modifiers | ModifierFlagOf(vk)) << 8);
        return TRUE;
    }
    _dword value = vk | (modifiers << 8);
    if (modifiers == 0 && (vk == _VK_BACK || vk == _VK_DELETE || vk == _VK_ESCAPE))
        value = 0;
    record->mControl->hotKey = value;
    ShowHotKey(*record, value);
    Notify(id, _EN_CHANGE);
    return TRUE;
}

gboolean OnHotKeyRelease(GtkWidget*, GdkEventKey* event, gpointer data)
{
    WindowRecord* record = ControlRecord(GPOINTER_TO_UINT(data), ControlKind::HotKeyBox);
    if (record && IsModifierKey(VirtualKeyFromEvent(event)))
        ShowHotKey(*record, record->mControl->hotKey);
    return record != nullptr;
}

void ApplyCss(GtkWidget* widget, gpointer provider)
{
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget), GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), ApplyCss, provider);
}

LResult MessageBoxHandler(WindowId window, _dword message, WParam wParam, LParam lParam)
{
    WindowRecord* record = FindRecord(window);
    MessageBoxState* box = record ? record->mMessageBox : nullptr;
    if (!box)
        return 0;
    if (message == _WM_COMMAND)
    {
        int id = LowWord(wParam);
        for (int button : box->buttons)
            if (button == id)
                box->answer = id;
        return 0;
    }
    if (message == _WM_CLOSE)
    {
        // Closing answers Cancel; a box with only OK answers OK; Yes/No boxes cannot be closed.
        if (box->hasCancel)
            box->answer = _IDCANCEL;
        else if (box->okOnly)
            box->answer = _IDOK;
        return 0;
    }
    return DefaultHandler(window, message, wParam, lParam);
}

void OnBoxResponse(GtkDialog*, gint response, gpointer data)
{
    WindowId id = GPOINTER_TO_UINT(data);
    if (response > 0)
        SendUiMessage(id, _WM_COMMAND, static_cast<WParam>(response), 0);
    else
        SendUiMessage(id, _WM_CLOSE, 0, 0);
}

gboolean OnBoxDelete(GtkWidget*, GdkEvent*, gpointer data)
{
    SendUiMessage(GPOINTER_TO_UINT(data), _WM_CLOSE, 0, 0);
    return TRUE;
}

void OnBoxDestroyed(GtkWidget*, gpointer data)
{
    // The owner went away and took the box with it.
    WindowRecord* record = FindRecord(GPOINTER_TO_UINT(data));
    if (record && record->mMessageBox)
    {
        if (record->mMessageBox->answer < 0)
            record->mMessageBox->answer = 0;
        record->mTop = nullptr;
    }
}
} // namespace

void ReleaseControl(WindowRecord& record)
{
    if (!record.mControl)
        return;
    if (record.mControl->css)
        g_object_unref(record.mControl->css);
    delete record.mControl;
    record.mControl = nullptr;
}

} // namespace Vexel::Ui::Gtk

namespace Vexel::Ui
{
using namespace Gtk;

WindowId NewControl(ControlKind kind, WindowId parent, _dword controlId, const String& text, int x, int y,
                    int width, int height, _dword style, _dword exStyle)
{
    WindowRecord* parentRecord = FindRecord(parent);
    if (!parentRecord || !parentRecord->mBody || !GTK_IS_LAYOUT(parentRecord->mBody))
        return 0;
    GtkWidget* widget = nullptr;
    std::string label = Utf8(text);
    switch (kind)
    {
    case ControlKind::PushButton:
        widget = gtk_button_new_with_label(label.c_str());
        break;
    case ControlKind::CheckBox:
        widget = gtk_check_button_new_with_label(label.c_str());
        break;
    case ControlKind::ComboBox:
        widget = gtk_combo_box_text_new();
        break;
    case ControlKind::HotKeyBox:
        widget = gtk_entry_new();
        gtk_editable_set_editable(GTK_EDITABLE(widget), FALSE);
        gtk_entry_set_has_frame(GTK_ENTRY(widget), TRUE);
        break;
    }
    auto owned = std::make_unique<WindowRecord>();
    WindowRecord& record = *owned;
    record.mStyle = (style | _WS_CHILD) & ~_WS_VISIBLE;
    record.mExStyle = exStyle;
    record.mParent = parent;
    record.mTitle = text;
    record.mBounds = Rect::FromSize(x, y, std::max(width, 0), std::max(height, 0));
    record.mIsControl = true;
    record.mControlKind = kind;
    record.mControlId = controlId;
    record.mControl = new ControlState;
    record.mBody = widget;
    record.mEnabled = !(style & _WS_DISABLED);
    WindowId id = AddRecord(std::move(owned));
    gpointer data = GUINT_TO_POINTER(id);
    switch (kind)
    {
    case ControlKind::PushButton:
        g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), data);
        break;
    case ControlKind::CheckBox:
        g_signal_connect(widget, "toggled", G_CALLBACK(OnToggled), data);
        break;
    case ControlKind::ComboBox:
        g_signal_connect(widget, "changed", G_CALLBACK(OnComboChanged), data);
        g_signal_connect(widget, "notify::popup-shown", G_CALLBACK(OnComboPopupShown), data);
        break;
    case ControlKind::HotKeyBox:
        g_signal_connect(widget, "key-press-event", G_CALLBACK(OnHotKeyPress), data);
        g_signal_connect(widget, "key-release-event", G_CALLBACK(OnHotKeyRelease), data);
        ShowHotKey(record, 0);
        break;
    }
    ConnectFocusTracking(widget, id);
    gtk_widget_set_size_request(widget, record.mBounds.Width(), record.mBounds.Height());
    gtk_layout_put(GTK_LAYOUT(parentRecord->mBody), widget, x + parentRecord->mInsets.left,
                   y + parentRecord->mInsets.top);
    if (!record.mEnabled)
        gtk_widget_set_sensitive(widget, FALSE);
    if (style & _WS_VISIBLE)
        ShowUiWindow(id, _SW_SHOW);
    return id;
}

_dword GetControlId(WindowId control)
{
    WindowRecord* record = FindRecord(control);
    return record && record->mIsControl ? record->mControlId : 0;
}

bool SetControlFont(WindowId control, const FontSpec& font)
{
    WindowRecord* record = FindRecord(control);
    if (!record || !record->mIsControl)
        return false;
    PangoFontDescription* desc = NewFontDescription(font);
    double px = static_cast<double>(pango_font_description_get_size(desc)) / PANGO_SCALE;
    std::string family =
        pango_font_description_get_family(desc) ? pango_font_description_get_family(desc) : "Sans";
    pango_font_description_free(desc);
    std::string quoted;
    for (char c : family)
        if (c != '"' && c != '\\')
            quoted += c;
    char css[512];
    std::snprintf(css, sizeof(css), "* { font-family: \"%s\"; font-size: %.1fpx; %s }", quoted.c_str(), px,
                  font.bold ? "font-weight: bold;" : "");
    if (!record->mControl->css)
        record->mControl->css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(record->mControl->css, css, -1, nullptr);
    ApplyCss(record->mBody, record->mControl->css);
    return true;
}

int ComboAddItem(WindowId combo, const String& text)
{
    WindowRecord* record = ControlRecord(combo, ControlKind::ComboBox);
    if (!record)
        return -1;
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(record->mBody), Utf8(text).c_str());
    return ComboGetCount(combo) - 1;
}

bool ComboClear(WindowId combo)
{
    WindowRecord* record = ControlRecord(combo, ControlKind::ComboBox);
    if (!record)
        return false;
    record->mControl->quiet = true;
    gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(record->mBody));
    record->mControl->quiet = false;
    return true;
}

int ComboGetCount(WindowId combo)
{
    WindowRecord* record = ControlRecord(combo, ControlKind::ComboBox);
    if (!record)
        return 0;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(record->mBody));
    return model ? gtk_tree_model_iter_n_children(model, nullptr) : 0;
}

int ComboGetSelection(WindowId combo)
{
    WindowRecord* record = ControlRecord(combo, ControlKind::ComboBox);
    return record ? gtk_combo_box_get_active(GTK_COMBO_BOX(record->mBody)) : -1;
}

bool ComboSetSelection(WindowId combo, int index)
{
    WindowRecord* record = ControlRecord(combo, ControlKind::ComboBox);
    if (!record || index < -1 || index >= ComboGetCount(combo))
        return false;
    record->mControl->quiet = true;
    gtk_combo_box_set_active(GTK_COMBO_BOX(record->mBody), index);
    record->mControl->quiet = false;
    return true;
}

String ComboGetItem(WindowId combo, int index)
{
    WindowRecord* record = ControlRecord(combo, ControlKind::ComboBox);
    if (!record || index < 0)
        return {};
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(record->mBody));
    GtkTreeIter iter;
    if (!model || !gtk_tree_model_iter_nth_child(model, &iter, nullptr, index))
        return {};
    gchar* text = nullptr;
    gtk_tree_model_get(model, &iter, 0, &text, -1);
    String result = Wide(text);
    g_free(text);
    return result;
}

bool SetCheckState(WindowId check, bool checked)
{
    WindowRecord* record = ControlRecord(check, ControlKind::CheckBox);
    if (!record)
        return false;
    record->mControl->quiet = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(record->mBody), checked);
    record->mControl->quiet = false;
    return true;
}

bool GetCheckState(WindowId check)
{
    WindowRecord* record = ControlRecord(check, ControlKind::CheckBox);
    return record && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(record->mBody));
}

bool SetHotKeyValue(WindowId box, _dword value)
{
    WindowRecord* record = ControlRecord(box, ControlKind::HotKeyBox);
    if (!record)
        return false;
    record->mControl->hotKey = value & 0xFFFF;
    ShowHotKey(*record, record->mControl->hotKey);
    return true;
}

_dword GetHotKeyValue(WindowId box)
{
    WindowRecord* record = ControlRecord(box, ControlKind::HotKeyBox);
    return record ? record->mControl->hotKey : 0;
}

int ShowMessageBox(WindowId owner, const String& text, const String& caption, _dword type)
{
    if (!InitUi())
        return 0;
    WindowRecord* ownerRecord = FindRecord(owner);
    GtkWindow* parent = ownerRecord ? ToplevelOf(*ownerRecord) : nullptr;
    GtkMessageType kind = GTK_MESSAGE_OTHER;
    switch (type & 0xF0)
    {
    case _MB_ICONERROR:
        kind = GTK_MESSAGE_ERROR;
        break;
    case _MB_ICONQUESTION:
        kind = GTK_MESSAGE_QUESTION;
        break;
    case _MB_ICONWARNING:
        kind = GTK_MESSAGE_WARNING;
        break;
    case _MB_ICONINFORMATION:
        kind = GTK_MESSAGE_INFO;
        break;
    default:
        break;
    }
    GtkWidget* dialog = gtk_message_dialog_new(
        parent, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), kind,
        GTK_BUTTONS_NONE, "%s", Utf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), Utf8(caption).c_str());

    auto* box = new MessageBoxState;
    switch (type & 0x0F)
    {
    case _MB_OKCANCEL:
        box->buttons = {_IDOK, _IDCANCEL};
        break;
    case _MB_YESNOCANCEL:
        box->buttons = {_IDYES, _IDNO, _IDCANCEL};
        break;
    case _MB_YESNO:
        box->buttons = {_IDYES, _IDNO};
        break;
    default:
        box->buttons = {_IDOK};
        break;
    }
    for (int button : box->buttons)
    {
        const char* label = button == _IDOK       ? "_OK"
                            : button == _IDCANCEL ? "_Cancel"
                            : button == _IDYES    ? "_Yes"
                                                  : "_No";
        gtk_dialog_add_button(GTK_DIALOG(dialog), label, button);
        box->hasCancel = box->hasCancel || button == _IDCANCEL;
    }
    box->okOnly = box->buttons.size() == 1;
    std::size_t defaultIndex = (type & _MB_DEFBUTTON2) && box->buttons.size() > 1 ? 1 : 0;
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), box->buttons[defaultIndex]);

    auto owned = std::make_unique<WindowRecord>();
    owned->mStyle = _WS_POPUP | _WS_CAPTION;
    owned->mTitle = caption;
    owned->mOwner = ownerRecord ? owner : 0;
    owned->mTop = dialog;
    owned->mHandler = MessageBoxHandler;
    owned->mMessageBox = box;
    owned->mShown = true;
    WindowId id = AddRecord(std::move(owned));
    gpointer data = GUINT_TO_POINTER(id);
    g_signal_connect(dialog, "response", G_CALLBACK(OnBoxResponse), data);
    g_signal_connect(dialog, "delete-event", G_CALLBACK(OnBoxDelete), data);
    g_signal_connect(dialog, "destroy", G_CALLBACK(OnBoxDestroyed), data);
    ConnectActivation(dialog, id);
    g_object_ref(dialog);
    PresentNow(GTK_WINDOW(dialog));

    // The box's own loop: other windows keep getting their messages, as under a modal box on Windows.
    bool quit = false;
    int quitCode = 0;
    while (box->answer < 0)
    {
        Message m;
        if (PeekUiMessage(m, true))
        {
            if (m.message == _WM_QUIT)
            {
                quit = true;
                quitCode = static_cast<int>(m.wParam);
                box->answer = 0;
                break;
            }
            TranslateUiMessage(m);
            DispatchUiMessage(m);
        }
        else
            WaitUiMessage(100);
        if (!FindRecord(id))
            break;
    }
    int answer = box->answer < 0 ? 0 : box->answer;
    DestroyUiWindow(id);
    g_signal_handlers_disconnect_by_data(dialog, data);
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);
    delete box;
    if (quit)
        PostQuit(quitCode); // the quit belongs to the loop that called us
    return answer;
}

} // namespace Vexel::Ui
