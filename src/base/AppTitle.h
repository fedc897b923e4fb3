#pragma once

#include <QString>

namespace parlivo {

// The title of every window and message box of the program.
inline const QString kAppTitle = QStringLiteral("Parlivo");

} // namespace parlivo
