import numpy as np
import trel

matches = np.loadtxt("examples/data/matches.txt")  # X Y Z u v per line
K = np.array([[800.0, 0.0, 320.0], [0.0, 800.0, 240.0], [0.0, 0.0, 1.0]])
r = trel.estimate_pose(K, matches[:, :3], matches[:, 3:])
print("rotation vector", np.round(r.x[:3], 3), "centre", np.round(r.x[3:], 3))
print(f"{r.num_inliers} of {len(matches)} matches are inliers, rms {r.summary.final_rms:.2f} px")
