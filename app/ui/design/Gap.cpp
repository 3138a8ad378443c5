#include "app/ui/design/Gap.hpp"

#include <QBoxLayout>
#include <QSpacerItem>

namespace parlino::design {

void addGap(QBoxLayout* layout, int ideal, int least)
{
    layout->addSpacing(least);
    if (ideal > least) {
        layout->addItem(new QSpacerItem(0, ideal - least, QSizePolicy::Minimum, QSizePolicy::Preferred));
    }
}

} // namespace parlino::design
