#include "Platform/Ui/Gtk/UiGtkPrivate.h"
namespace Vexel::Ui::Gtk
{
void ReleaseWebView(WindowRecord&) {}
void LayoutWebView(WindowRecord&) {}
void ReleaseControl(WindowRecord&) {}
void ReleaseMenuBar(WindowRecord&) {}
} // namespace Vexel::Ui::Gtk
