% Builds camera_pose_refine with MATLAB's mex from the repository root (configure with CMake
% once first, for build/release/include/trel_tools/export.h). Adjust OpenCV's folders to the
% installation.
names = @(pattern) arrayfun(@(f) fullfile(f.folder, f.name), dir(pattern), 'UniformOutput', false);
core = {'exception_l', 'matrix', 'rotation', 'std_vector_overloads', 'IplImage_overloads', ...
        'Opencv_io', 'IO_helpers'};  % compiled into the plug-in
src = [names('camera_pose_refine/*.cpp'); names('trel_opt/*.cpp'); ...   % mex_octave.cpp included
       names('trel_pose/pose_kernel.cpp'); names('trel_pose/pose_refinement.cpp'); names('trel_pose/pose_batch.cpp')];
src = src(cellfun(@isempty, regexp(src, 'camera_pose_estimate\.cpp$')));  % the other plug-in's
for k = 1:numel(core)
  src = [src; names(['trel_tools/' core{k} '.cpp'])];
end
mex('-R2017b', 'CXXFLAGS=$CXXFLAGS -std=c++17', '-DTREL_TOOLS_STATIC', '-I.', '-Ibuild/release/include', ...
    '-I/usr/include/opencv4', '-I/usr/include/eigen3', '-lopencv_core', '-lopencv_imgproc', src{:}, ...
    '-output', 'camera_pose_refine');
