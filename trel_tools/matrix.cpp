#include "trel_tools/matrix.h"

namespace trel {

template class matrix<double>;
template class matrix<int>;
template class tensor<double>;
template TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream&, const matrix<double>&);

}  // namespace trel
