import numpy as np
import trel

matches = np.loadtxt("examples/data/matches.txt")
good = matches[np.arange(len(matches)) % 4 != 3]
K = np.array([[800.0, 0, 320], [0, 800, 240], [0, 0, 1]])
starts = [np.array([0.2, -0.3, 0.1, 0.4, -0.2 - 0.05 * f, -1.0]) for f in range(100)]
frames = [(good[:, :3], good[:, 3:], s) for s in starts]  # (points, observations, start[, weights[, K]])

seen = []
def progress(done, total):
    seen.append(done)
    return True  # False cancels the frames not yet started

X, summaries = trel.refine_poses(K, frames, progress=progress, threads=2)
print(X.shape, "all ok" if summaries.ok.all() else summaries.errors, "last report", seen[-1])
