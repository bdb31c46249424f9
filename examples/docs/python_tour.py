import numpy as np
import trel

config = trel.Configuration("examples/stereo_rig.txt")  # or trel.Configuration() for the defaults
print(len(config.warnings), "warnings")  # every line the store wrote to standard error
cameras = config.cameras()
points = np.array([[0.0, 0.0, 3.0], [0.2, -0.1, 4.0]])
uvd = cameras[0].project(points)  # N x 3 (u, v, disparity); zeros: not visible
back = cameras[0].unproject(uvd)  # N x 3 world points
print(len(cameras), "cameras;", np.round(uvd, 2).tolist(), "back", np.round(back, 3).tolist())

R = trel.rot_vec_rad_to_rot_mat(np.array([0.1, -0.2, 0.05]))  # one rotation, or a stack of N
print(np.round(trel.rot_mat_to_rot_vec_rad(R), 6))
