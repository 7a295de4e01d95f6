// SPDX-License-Identifier: GPL-3.0-or-later
// The options dialog: language, new-reminders alert, upcoming days and the
// repository root on the first page, the idle timeout on the second.
#pragma once

#include <functional>

// Runs the dialog. On OK the chosen values become app_core().settings (the
// one home of each preference) and app_core().repo_root, and are stored in
// the configuration database at once. When the language changed, its string
// table is loaded and `relabel` (when given) is called to relabel the
// window. True for OK, false when cancelled.
bool options_dialog(const std::function<void()>& relabel = {});
