#pragma once

#include <QIcon>
#include <QPixmap>

// The tool's icon, a thermometer on the form's blue, drawn in code so that
// the build needs no image files.
QPixmap ToolIconPixmap(int size);
QIcon ToolIcon();
