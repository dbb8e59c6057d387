#pragma once
// Icon resource names of the result page's extension rows and file rows.
#include <QString>

// The category's icon by the membership rule, overridden by an exact (case-blind)
// match in the icon table. Extensions of one letter have no category icon.
QString GetExtendNameIcon(const QString& extension);
