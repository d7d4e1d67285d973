// The translation pass over a Qt window: reloads the 43 message strings, then replaces the
// window's title and the captions of its named components by TranslateText of their current
// text. Component kinds and what is translated:
//   BandedGrid                 each shown column's header caption, then each band caption
//   QTableView (plain grid)    each shown column's header caption
//   QLabel                     text
//   QAbstractButton            text (push, tool and speed buttons, check boxes)
//   QAction                    text (menu items, tray menu items); separators have none
// Everything else (edits, combo boxes, panels, hints) is left as it is. "Named components" are
// the window's own controls (a non-empty object name not starting with "qt_"), visited in
// creation order; Qt's internal child widgets are not captions.
//
// Errors: a lookup failure propagates (dal::ProviderError); captions after it stay unchanged.
#pragma once

#include <QWidget>

#include "i18n/messages.h"

namespace orv::app {

void TranslateForm(QWidget* window, i18n::LanguageTable& table, i18n::MessageStrings& strings = i18n::messages());

// The captions of the window that the pass would translate, in pass order (for tests and for
// checking that each caption key has its row in the shipped table).
QStringList captionKeys(QWidget* window);

}  // namespace orv::app
