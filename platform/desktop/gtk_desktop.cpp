// The desktop module: the tray icon as a status notifier item with its
// menu over dbusmenu (libayatana-appindicator), the settings dialog and the
// message boxes as GTK windows. Loaded by the program only in a graphical
// session; see desktop_api.h.
//
// GTK runs on a thread of its own, started by open(): the program's main
// thread keeps its own loop and the service threads never touch GTK. Calls
// from other threads are carried over as idle callbacks and waited for.
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/desktop/desktop_api.h"
#include "platform/win32.h"

namespace {

// How long close() waits for the GUI thread to end.
constexpr auto kCloseWait = std::chrono::seconds(3);

struct Gui {
    std::mutex mutex;
    std::condition_variable changed;
    bool started = false;   // the thread has tried to open the display
    bool running = false;   // its loop runs and takes calls
    bool closing = false;   // close() was called: no new windows
    bool finished = false;  // the loop has ended, or never ran
    std::thread::id thread;
    GMainLoop* loop = nullptr;
    std::string iconFile;

    // Touched on the GUI thread only.
    std::vector<GtkDialog*> dialogs;
    AppIndicator* indicator = nullptr;
    PellamoTrayCallback activated = nullptr;
    void* context = nullptr;
};

Gui& gui() {
    // Never destroyed: the GUI thread may still run while the process exits.
    static Gui* const g = new Gui();
    return *g;
}

bool onGuiThread() {
    Gui& g = gui();
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.running && g.thread == std::this_thread::get_id();
}

bool isClosing() {
    Gui& g = gui();
    std::lock_guard<std::mutex> lock(g.mutex);
    return g.closing;
}

// One call carried over to the GUI thread; it owns its inputs and result,
// so a caller that stops waiting leaves nothing dangling.
struct Call {
    std::function<int()> work;
    int result = 0;
    bool done = false;
};

gboolean runCall(gpointer data) {
    auto& call = *static_cast<std::shared_ptr<Call>*>(data);
    const int result = call->work();
    Gui& g = gui();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        call->result = result;
        call->done = true;
    }
    g.changed.notify_all();
    return G_SOURCE_REMOVE;
}

void releaseCall(gpointer data) { delete static_cast<std::shared_ptr<Call>*>(data); }

// Runs work on the GUI thread and returns its result; `notRun` when the
// GUI thread is not there (or ends before it gets to the call).
int onGui(std::function<int()> work, int notRun) {
    if (onGuiThread()) return work();
    Gui& g = gui();
    auto call = std::make_shared<Call>();
    call->work = std::move(work);
    std::unique_lock<std::mutex> lock(g.mutex);
    if (!g.running || g.closing) return notRun;
    g_idle_add_full(G_PRIORITY_DEFAULT, runCall, new std::shared_ptr<Call>(call), releaseCall);
    g.changed.wait(lock, [&] { return call->done || g.finished; });
    return call->done ? call->result : notRun;
}

int runDialog(GtkDialog* dialog) {
    Gui& g = gui();
    g.dialogs.push_back(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
    const int response = gtk_dialog_run(dialog);
    g.dialogs.erase(std::remove(g.dialogs.begin(), g.dialogs.end(), dialog), g.dialogs.end());
    return response;
}

GtkMessageType messageKind(unsigned type) {
    switch (type & 0xF0u) {
    case MB_ICONERROR:
        return GTK_MESSAGE_ERROR;
    case MB_ICONQUESTION:
        return GTK_MESSAGE_QUESTION;
    case MB_ICONWARNING:
        return GTK_MESSAGE_WARNING;
    case MB_ICONINFORMATION:
        return GTK_MESSAGE_INFO;
    default:
        return GTK_MESSAGE_OTHER;
    }
}

// The buttons of a box of this type, left to right, with the answer each
// gives; the first is the default button, as on Windows.
std::vector<std::pair<const char*, int>> messageButtons(unsigned type) {
    static const char* const yes = "_\xD0\x94\xD0\xB0";             // "_Да"
    static const char* const no = "_\xD0\x9D\xD0\xB5\xD1\x82";      // "_Нет"
    static const char* const cancel = "\xD0\x9E\xD1\x82\xD0\xBC\xD0\xB5\xD0\xBD\xD0\xB0";  // "Отмена"
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {{"OK", IDOK}, {cancel, IDCANCEL}};
    case MB_YESNOCANCEL:
        return {{yes, IDYES}, {no, IDNO}, {cancel, IDCANCEL}};
    case MB_YESNO:
        return {{yes, IDYES}, {no, IDNO}};
    default:
        return {{"OK", IDOK}};
    }
}

// The answer of a box closed without a button (Esc, the close box, or the
// program closing): cancel where there is such a button, No to a Yes/No
// question, else OK.
int dismissedAnswer(unsigned type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}

int messageBoxOnGui(const std::string& text, const std::string& caption, unsigned type) {
    if (isClosing()) return 0;
    GtkWidget* widget = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, messageKind(type), GTK_BUTTONS_NONE,
                                               "%s", text.c_str());
    GtkDialog* dialog = GTK_DIALOG(widget);
    gtk_window_set_title(GTK_WINDOW(widget), caption.c_str());
    // Screen readers name a message box by its kind ("Question") unless told
    // otherwise; its caption says whose box it is.
    atk_object_set_name(gtk_widget_get_accessible(widget), caption.c_str());
    const auto buttons = messageButtons(type);
    for (const auto& [label, answer] : buttons) gtk_dialog_add_button(dialog, label, answer);
    gtk_dialog_set_default_response(dialog, buttons.front().second);
    // Boxes come unasked (at start-up, from the update check): keep them
    // in sight above other windows, as the Windows boxes of a tray program.
    gtk_window_set_keep_above(GTK_WINDOW(widget), TRUE);
    gtk_window_set_position(GTK_WINDOW(widget), GTK_WIN_POS_CENTER);
    const int response = runDialog(dialog);
    gtk_widget_destroy(widget);
    for (const auto& button : buttons) {
        if (button.second == response) return response;
    }
    return dismissedAnswer(type);
}

GtkWidget* leftLabel(const char* text) {
    GtkWidget* label = gtk_label_new(text != nullptr ? text : "");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
    return label;
}

struct DialogTexts {
    std::string caption, iconFile, text, versionLabel, version, addressLabel, address, ok, cancel;
};

std::string orEmpty(const char* s) { return s != nullptr ? s : ""; }

int settingsDialogOnGui(const DialogTexts& t, std::string& address) {
    if (isClosing()) return -1;
    GtkWidget* widget = gtk_dialog_new_with_buttons(t.caption.c_str(), nullptr, GTK_DIALOG_MODAL, t.ok.c_str(),
                                                    GTK_RESPONSE_OK, t.cancel.c_str(), GTK_RESPONSE_CANCEL,
                                                    nullptr);
    GtkDialog* dialog = GTK_DIALOG(widget);
    gtk_window_set_resizable(GTK_WINDOW(widget), FALSE);
    gtk_window_set_position(GTK_WINDOW(widget), GTK_WIN_POS_CENTER);
    gtk_dialog_set_default_response(dialog, GTK_RESPONSE_OK);

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 10);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 16);
    gtk_container_set_border_width(GTK_CONTAINER(grid), 14);
    if (!t.iconFile.empty()) {
        GdkPixbuf* icon = gdk_pixbuf_new_from_file_at_size(t.iconFile.c_str(), 32, 32, nullptr);
        if (icon != nullptr) {
            GtkWidget* image = gtk_image_new_from_pixbuf(icon);
            g_object_unref(icon);
            gtk_widget_set_valign(image, GTK_ALIGN_START);
            gtk_grid_attach(GTK_GRID(grid), image, 0, 0, 1, 1);
        }
    }
    gtk_grid_attach(GTK_GRID(grid), leftLabel(t.text.c_str()), 1, 0, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), leftLabel(t.versionLabel.c_str()), 0, 1, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), leftLabel(t.version.c_str()), 2, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), leftLabel(t.addressLabel.c_str()), 0, 2, 2, 1);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), t.address.c_str());
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 28);
    // Enter in the field presses OK, as in the Windows dialog.
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_grid_attach(GTK_GRID(grid), entry, 2, 2, 1, 1);
    gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(dialog)), grid, TRUE, TRUE, 0);
    gtk_widget_show_all(grid);
    gtk_widget_grab_focus(entry);

    const int response = runDialog(dialog);
    const bool ok = response == GTK_RESPONSE_OK;
    if (ok) address = gtk_entry_get_text(GTK_ENTRY(entry));
    gtk_widget_destroy(widget);
    return ok ? 1 : 0;
}

// Menu items are activated from the dbusmenu request; the program's
// callback runs afterwards on its own, so a dialog it opens does not hold
// the request's reply back.
gboolean runActivation(gpointer data) {
    Gui& g = gui();
    if (g.activated != nullptr && !isClosing()) g.activated(g.context, GPOINTER_TO_INT(data));
    return G_SOURCE_REMOVE;
}

void onMenuItem(GtkMenuItem* /*item*/, gpointer data) { g_idle_add(runActivation, data); }

struct TrayCopy {
    std::string id, title, iconFolder, iconName;
    std::vector<std::string> labels;
    PellamoTrayCallback activated;
    void* context;
};

int showTrayOnGui(const TrayCopy& t) {
    Gui& g = gui();
    if (g.indicator != nullptr || isClosing()) return 1;
    AppIndicator* indicator =
        t.iconFolder.empty()
            ? app_indicator_new(t.id.c_str(), t.iconName.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS)
            : app_indicator_new_with_path(t.id.c_str(), t.iconName.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS,
                                          t.iconFolder.c_str());
    if (indicator == nullptr) return 1;
    app_indicator_set_title(indicator, t.title.c_str());
    GtkWidget* menu = gtk_menu_new();
    for (std::size_t i = 0; i < t.labels.size(); ++i) {
        GtkWidget* item = gtk_menu_item_new_with_mnemonic(t.labels[i].c_str());
        g_signal_connect(item, "activate", G_CALLBACK(onMenuItem), GINT_TO_POINTER(static_cast<int>(i)));
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    }
    gtk_widget_show_all(menu);
    g.activated = t.activated;
    g.context = t.context;
    app_indicator_set_menu(indicator, GTK_MENU(menu));
    app_indicator_set_status(indicator, APP_INDICATOR_STATUS_ACTIVE);
    g.indicator = indicator;
    return 0;
}

void guiThreadMain() {
    Gui& g = gui();
    // The process keeps the "C" locale: number formats and the program's
    // own code page conversions must not change under it.
    gtk_disable_setlocale();
    const bool ok = gtk_init_check(nullptr, nullptr) != FALSE;
    GMainLoop* loop = ok ? g_main_loop_new(nullptr, FALSE) : nullptr;
    if (ok && !g.iconFile.empty()) gtk_window_set_default_icon_from_file(g.iconFile.c_str(), nullptr);
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.started = true;
        g.running = ok;
        g.finished = !ok;
        g.loop = loop;
        g.thread = std::this_thread::get_id();
    }
    g.changed.notify_all();
    if (!ok) return;
    g_main_loop_run(loop);
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        g.running = false;
        g.finished = true;
    }
    g.changed.notify_all();
}

int apiOpen(const char* iconFile) {
    Gui& g = gui();
    std::unique_lock<std::mutex> lock(g.mutex);
    if (g.started) return g.running ? 0 : 1;
    g.iconFile = orEmpty(iconFile);
    std::thread(guiThreadMain).detach();
    g.changed.wait(lock, [&] { return g.started; });
    return g.running ? 0 : 1;
}

int apiMessageBox(const char* text, const char* caption, unsigned type) {
    std::string t = orEmpty(text), c = orEmpty(caption);
    return onGui([t, c, type] { return messageBoxOnGui(t, c, type); }, 0);
}

int apiShowTray(const PellamoTray* tray) {
    if (tray == nullptr || tray->count < 0 || (tray->count > 0 && tray->labels == nullptr)) return 1;
    TrayCopy copy{orEmpty(tray->id), orEmpty(tray->title), orEmpty(tray->iconFolder), orEmpty(tray->iconName),
                  {}, tray->activated, tray->context};
    for (int i = 0; i < tray->count; ++i) copy.labels.push_back(orEmpty(tray->labels[i]));
    return onGui([copy] { return showTrayOnGui(copy); }, 1);
}

int apiSettingsDialog(const PellamoSettingsDialog* d, char** address) {
    if (d == nullptr || address == nullptr) return -1;
    *address = nullptr;
    DialogTexts texts{orEmpty(d->caption),      orEmpty(d->iconFile), orEmpty(d->text),
                      orEmpty(d->versionLabel), orEmpty(d->version),  orEmpty(d->addressLabel),
                      orEmpty(d->address),      orEmpty(d->okLabel),  orEmpty(d->cancelLabel)};
    auto edited = std::make_shared<std::string>();
    const int result = onGui([texts, edited] { return settingsDialogOnGui(texts, *edited); }, -1);
    if (result == 1) *address = g_strdup(edited->c_str());
    return result;
}

void apiFreeText(char* text) { g_free(text); }

// On the GUI thread: every open dialog answers as if closed, the icon goes,
// and the loop ends once the dialogs' own loops have returned.
gboolean stopOnGui(gpointer /*data*/) {
    Gui& g = gui();
    const std::vector<GtkDialog*> open = g.dialogs;
    for (GtkDialog* dialog : open) gtk_dialog_response(dialog, GTK_RESPONSE_DELETE_EVENT);
    if (g.indicator != nullptr) {
        app_indicator_set_status(g.indicator, APP_INDICATOR_STATUS_PASSIVE);
        g_object_unref(g.indicator);
        g.indicator = nullptr;
    }
    g_main_loop_quit(g.loop);
    return G_SOURCE_REMOVE;
}

void apiClose() {
    Gui& g = gui();
    const bool here = onGuiThread();
    {
        std::lock_guard<std::mutex> lock(g.mutex);
        if (!g.running || g.closing) return;
        g.closing = true;
    }
    if (here) {
        stopOnGui(nullptr);
        return;
    }
    g_idle_add(stopOnGui, nullptr);
    std::unique_lock<std::mutex> lock(g.mutex);
    g.changed.wait_for(lock, kCloseWait, [&] { return g.finished; });
}

const PellamoDesktopApi kApi{apiOpen, apiMessageBox, apiShowTray, apiSettingsDialog, apiFreeText, apiClose};

}  // namespace

extern "C" __attribute__((visibility("default"))) const PellamoDesktopApi* pellamo_desktop_api(int interfaceVersion) {
    return interfaceVersion == kPellamoDesktopInterfaceVersion ? &kApi : nullptr;
}
