#include "trel_tools/std_vector_overloads.h"

namespace trel {

void default_val(double& value) { value = 0.0; }
void default_val(float& value) { value = 0.0f; }
void default_val(int& value) { value = 0; }

template TREL_TOOLS_EXPORT std::vector<double>& operator+=(std::vector<double>&, const std::vector<double>&);
template TREL_TOOLS_EXPORT std::vector<double>& operator-=(std::vector<double>&, const std::vector<double>&);
template TREL_TOOLS_EXPORT const std::vector<double> operator-(const std::vector<double>&,
                                                               const std::vector<double>&);
template TREL_TOOLS_EXPORT std::ostream& operator<<(std::ostream&, const std::vector<double>&);

}  // namespace trel
