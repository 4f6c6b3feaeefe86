function L = picture_layout()
% PICTURE_LAYOUT  Where demo_picture puts its panels and labels, in pixels.
%   Two columns and two rows of SIDE x SIDE panels; panel (r, c) has its
%   top left pixel at (ROW(r), COL(c)). Text is the 5x7 font of draw_text
%   at SCALE, LINE pixels per line: a heading row above each column,
%   CAPTION_LINES lines below each panel from CAPTION_ROW(r) on, and a
%   margin of AXIS_LABEL pixels left of each column for the upward axis
%   label.
L.side = 256;
L.scale = 2;
L.line = 18;
L.gap = 8;
L.axis_label = 20;
L.caption_lines = 3;
L.heading_row = L.gap;
L.col = L.gap + L.axis_label + [0, L.side + L.gap + L.axis_label];
L.row = L.heading_row + L.line + L.gap / 2 + [0, L.side + L.caption_lines * L.line + L.gap];
L.caption_row = L.row + L.side + L.gap / 2;
L.width = L.col(2) + L.side + L.gap;
L.height = L.row(2) + L.side + L.gap / 2 + L.caption_lines * L.line + L.gap / 2;
