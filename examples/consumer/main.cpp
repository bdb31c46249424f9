// Reads the configuration file named on the command line and turns a rotation
// vector into a matrix: enough to show that trel_tools links and works.
#include <iostream>
#include <string>
#include <vector>

#include "trel_tools/configuration.h"
#include "trel_tools/matrix.h"
#include "trel_tools/rotation.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: consumer <configuration file>\n";
    return 2;
  }
  const trel::configuration config{std::string(argv[1])};
  int classes = 0;
  config.get_param("classes", classes);
  std::cout << "classes=" << classes << "\n";

  // A quarter turn about z.
  const trel::matrix<double> R = trel::rot_vec_rad_to_rot_mat(std::vector<double>{0.0, 0.0, 1.5707963267948966});
  std::cout << "det=" << R.det() << " R(1,0)=" << R[1][0] << "\n";
  return 0;
}
