// How the settings window reads its controls' messages: which notice a
// notification code stands for, the kind of a control by its id, and the
// radio groups, all from the dialog's template.
#pragma once

#include "settings/SystemSet.h"

#include <optional>
#include <vector>

// The notice a control's WM_COMMAND notification code stands for, by the
// control's kind; none for the notifications the dialog does not follow.
std::optional<Notice> noticeOf(systemset::ControlKind kind, int code);

// The kind of the template's control with the id; none for an id the
// template does not have.
std::optional<systemset::ControlKind> controlKind(int id);

// The ids of the radio group the radio with the id belongs to, in template
// order (the radio itself among them); empty when it is no radio.
std::vector<int> radioGroupOf(int id);
