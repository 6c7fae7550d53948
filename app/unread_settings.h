// How the window shows a setting the last load could not read: its widget
// is disabled and its tooltip says why, until a load reads it.
#pragma once

#include <QString>

// "Not read from the EFIS ..." - the tooltip of such a widget.
QString notReadToolTip();
