import numpy as np
import trel

# [rig]
# The three cameras of the sample rig, posed in the world by their extrinsics.
cameras = trel.create_camera_vector(trel.Configuration("examples/stereo_rig.txt"))
rig = trel.Rig.from_cameras(cameras)  # the rig frame is camera 0's

# A grid of world points seen by every camera, one pixel per camera and point.
grid = np.stack(np.meshgrid(np.linspace(-1, 1, 5), np.linspace(-0.6, 0.6, 4), [3.0, 5.0]), -1).reshape(-1, 3)
parts = []
for c, camera in enumerate(cameras):
    uvd = camera.project(grid)
    visible = np.any(uvd != 0, axis=1)
    parts.append((grid[visible], uvd[visible, :2], np.full(int(visible.sum()), c)))
points = np.concatenate([part[0] for part in parts])
pixels = np.concatenate([part[1] for part in parts])
seen_by = np.concatenate([part[2] for part in parts])
pixels[::7] = np.array([600.0, 20.0])  # every seventh match wrong

r = trel.estimate_rig_pose(rig, points, pixels, seen_by)
print(f"{r.num_inliers} of {len(points)} observations are inliers; rig centre {np.round(r.centre, 3) + 0.0}")
print("per camera:", [(c["points"], c["inliers"]) for c in r.cameras])
# [/rig]
