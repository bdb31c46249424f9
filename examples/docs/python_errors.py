import numpy as np
import trel

K = np.array([[800, 0, 320], [0, 800, 240], [0, 0, 1]], dtype=np.float32)  # any numbers: float64 once
points = [[0.0, 0.0, 5.0], [1.0, 0.0, 5.0], [0.0, 1.0, 5.0], [1.0, 1.0, 6.0]]  # lists too
pixels = np.array([[320, 240], [480, 240], [320, 400], [453, 373]])  # integers too
try:
    trel.refine_pose(K, points, pixels[:, :1], np.zeros(6))
except ValueError as e:
    print("ValueError:", e)
try:
    trel.refine_pose(K, points, pixels, [0.0, 0.0, 0.0, 0.0, 0.0, np.nan])
except trel.Error as e:
    print("trel.Error:", e)  # the cause; e.trace holds the library's whole call trace
    print(len(e.trace.splitlines()), "lines of trace")
