// Message boxes, the yes/no question, the data-timer notice, the copyable
// text box, and opening addresses and files with the desktop's handler.
#pragma once

#include <gtk/gtk.h>

#include <string>

// Error (show_message) and information (show_info) boxes: the message string
// is formatted with the arguments and then shown literally; the window title
// is the title string; one OK button (26).
void show_message(int title_id, int message_id, ...);
void show_info(int title_id, int message_id, ...);
// The same boxes for a text that is already complete (no string id).
void show_message_text(int title_id, const std::string& text);
void show_info_text(int title_id, const std::string& text);
// A question: primary string formatted with `arg` (nullptr: shown as it is),
// secondary string unless -1, title 307, the no button (cancel) then the yes
// button (default). True exactly for yes.
bool ask_yes_no(int primary_id, const char* arg, int secondary_id, int no_id, int yes_id);
// The same question with a complete primary text (and a secondary id or -1).
bool ask_yes_no_text(const std::string& primary, int no_id, int yes_id, int secondary_id = -1);
// The information box of the data timer (text 209, title 307).
void show_data_notice();
// The text in large bold type with a copy button (72) that puts it on the
// clipboard each time (cleared again after 30 seconds when it still holds
// the text: what is shown here is a password), and a close button (28).
void show_copyable(int title_id, const char* text);

// Starts "xdg-open" with the text as its only argument, asynchronously, in
// "/", output discarded. Returns 0, or -1 when it could not be started (an
// empty text, or a text starting with "-" that the opener would take as an
// option, is refused).
int open_address(const char* text);
