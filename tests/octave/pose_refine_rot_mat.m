function R = pose_refine_rot_mat (rot, code)
  % Rotation matrix (camera axes to world axes) of the rotation values ROT of a
  % camera_pose_refine rotation code: a rotation vector for 0, 10, -2; unit axis
  % then angle for 1, 11, -3; quaternion x, y, z, w for 2, 3, 12, -1 (any length).
  rot = rot(:);
  switch code
    case {0, 10, -2}
      theta = norm (rot);
      if theta == 0
        R = eye (3);
        return;
      end
      R = axis_angle (rot / theta, theta);
    case {1, 11, -3}
      R = axis_angle (rot(1:3) / norm (rot(1:3)), rot(4));
    case {2, 3, 12, -1}
      q = rot / norm (rot);
      x = q(1); y = q(2); z = q(3); w = q(4);
      R = [1-2*(y^2+z^2), 2*(x*y-z*w),   2*(x*z+y*w);
           2*(x*y+z*w),   1-2*(x^2+z^2), 2*(y*z-x*w);
           2*(x*z-y*w),   2*(y*z+x*w),   1-2*(x^2+y^2)];
    otherwise
      error ("pose_refine_rot_mat: unknown rotation code %d", code);
  end
end

function R = axis_angle (a, theta)
  A = [0, -a(3), a(2); a(3), 0, -a(1); -a(2), a(1), 0];
  R = eye (3) + sin (theta) * A + (1 - cos (theta)) * A * A;
end
