#include "Platform/Ui/Gtk/UiGtkPrivate.h"
namespace Vexel::Ui::Gtk
{
void ReleaseControl(WindowRecord&) {}
void ReleaseMenuBar(WindowRecord&) {}
} // namespace Vexel::Ui::Gtk
