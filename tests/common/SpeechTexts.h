#pragma once
// Texts the speech tests speak.

#include <QString>

// Four plain sentences: several seconds of speech, long enough to pause, stop or break into.
inline const QString kLong = QStringLiteral(
    "The lighthouse keeper climbed the stairs every evening. He lit the lamp and watched the "
    "ships pass by the rocks. In winter the storms were loud, and the sea came over the wall. "
    "In summer the children from the village brought him bread and news. ");
