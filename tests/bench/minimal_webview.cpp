// The yardstick of the start-to-page benchmark: the least a program can do to show a page with WebKitGTK.
// One 600 x 400 window holding one web view on the address given; "page shown" is printed on stdout once
// the page has finished loading and the window is on screen. Runs until SIGTERM or the window closes.
//
//   minimal-webview URL [WIDTH HEIGHT]
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>

namespace
{
bool gLoaded = false;
bool gReported = false;

void ReportWhenShown(GtkWidget* window)
{
    if (gLoaded && !gReported && gtk_widget_get_mapped(window))
    {
        gReported = true;
        std::printf("page shown\n");
        std::fflush(stdout);
    }
}

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer window)
{
    if (event == WEBKIT_LOAD_FINISHED)
    {
        gLoaded = true;
        ReportWhenShown(GTK_WIDGET(window));
    }
}

gboolean OnMapped(GtkWidget* window, GdkEvent*, gpointer)
{
    ReportWhenShown(window);
    return FALSE;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        std::fprintf(stderr, "usage: minimal-webview URL [WIDTH HEIGHT]\n");
        return 2;
    }
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    int width = argc >= 4 ? std::atoi(argv[2]) : 600;
    int height = argc >= 4 ? std::atoi(argv[3]) : 400;
    gtk_window_set_default_size(GTK_WINDOW(window), width > 0 ? width : 600, height > 0 ? height : 400);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), window);
    g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
