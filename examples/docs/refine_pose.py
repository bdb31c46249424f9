import numpy as np
import trel

matches = np.loadtxt("examples/data/matches.txt")
good = matches[np.arange(len(matches)) % 4 != 3]  # every fourth match of the file is wrong
K = np.array([[800.0, 0, 320], [0, 800, 240], [0, 0, 1]])
points, pixels = good[:, :3], good[:, 3:]

R0, t0 = trel.upnp(pixels, points, K)  # the best UPnP candidate
start = np.concatenate([trel.rot_mat_to_rot_vec_rad(R0), t0])
x, summary = trel.refine_pose(K, points, pixels, start, rotation_code=0,
                              loss="huber", loss_scale=2.0, max_iters=20)
print("centre", np.round(x[3:], 4), f"rms {summary.final_rms:.3f} px,",
      summary.inliers.sum(), "inliers, covariance", summary.covariance.shape)
