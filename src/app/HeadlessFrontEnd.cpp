#include "app/HeadlessFrontEnd.h"

#include <QCoreApplication>

namespace varnello {

void HeadlessFrontEnd::terminate() {
    QCoreApplication::exit(0);
}

} // namespace varnello
