function problems = matlab_rules(file)
% MATLAB_RULES  Octave-only syntax in an .m file that MATLAB would refuse.
%   PROBLEMS = MATLAB_RULES(FILE) lists, one text per finding, the lines of
%   FILE that use what only Octave accepts: # comments, double-quoted
%   strings, !, !=, ++, --, +=, -=, *=, /=, ^=, **, the Octave end words
%   (endfunction, endif, ...) and unwind_protect, and the Octave output
%   functions printf, puts, fputs and fdisp. Comments and the text of
%   single-quoted strings are not looked at. A function file must also be
%   named after its first function.

text = fileread(file);
lines = regexp(text, '\r?\n', 'split');
problems = {};
in_block = false;
first_code = true;
[~, base] = fileparts(file);
for n = 1:numel(lines)
    trimmed = strtrim(lines{n});
    if in_block
        in_block = ~strcmp(trimmed, '%}');
        continue;
    elseif strcmp(trimmed, '%{')
        in_block = true;
        continue;
    end
    [code, found] = code_of(lines{n});
    for k = 1:numel(found)
        problems{end + 1} = sprintf('%s:%d: %s', file, n, found{k}); %#ok<AGROW>
    end
    for k = 1:size(patterns(), 1)
        rule = patterns();
        if ~isempty(regexp(code, rule{k, 1}, 'once'))
            problems{end + 1} = sprintf('%s:%d: %s', file, n, rule{k, 2}); %#ok<AGROW>
        end
    end
    if first_code && ~isempty(strtrim(code))
        first_code = false;
        name = regexp(code, '^\s*function\s+(?:\[?[\w\s,~]*\]?\s*=\s*)?(\w+)', 'tokens', 'once');
        if ~isempty(name) && ~strcmp(name{1}, base)
            problems{end + 1} = sprintf('%s:%d: function %s in a file named %s', file, n, name{1}, base); %#ok<AGROW>
        end
    end
end

function rules = patterns()
rules = {'!', '! or != (MATLAB: ~ and ~=)'; ...
         '(\+\+|--)', '++ or --'; ...
         '(\+=|-=|\*=|/=|\^=)', 'an assignment operator such as +='; ...
         '\*\*', '** (MATLAB: ^)'; ...
         ['\<(endfunction|endif|endwhile|endfor|endswitch|end_try_catch|' ...
          'end_unwind_protect|unwind_protect|unwind_protect_cleanup|until)\>'], 'an Octave-only keyword'; ...
         '\<(printf|puts|fputs|fdisp)\s*\(', 'an Octave-only output function (MATLAB: fprintf)'};

function [code, found] = code_of(line)
% The line with comments cut off and each single-quoted string reduced to
% S; FOUND names a # comment or a double-quoted string.
code = '';
found = {};
i = 1;
while i <= numel(line)
    c = line(i);
    if c == '%' || strncmp(line(i:end), '...', 3)
        break;
    elseif c == '#'
        found{end + 1} = '# comment (MATLAB: %)'; %#ok<AGROW>
        break;
    elseif c == '"'
        found{end + 1} = 'double-quoted string (MATLAB: single quotes)'; %#ok<AGROW>
        i = string_end(line, i, '"');
        code = [code 'S']; %#ok<AGROW>
    elseif c == '''' && ~(i > 1 && ends_value(line(i - 1)))
        i = string_end(line, i, '''');
        code = [code 'S']; %#ok<AGROW>
    else
        code = [code c]; %#ok<AGROW>
    end
    i = i + 1;
end

function yes = ends_value(c)
% A quote right after a name, a closing bracket, a dot or a quote is a
% transpose; anywhere else it opens a string.
yes = isletter(c) || (c >= '0' && c <= '9') || any(c == ['_)]}.' '''']);

function i = string_end(line, i, q)
% Index of the quote that closes the string opened at I (doubled quotes
% stand for one), or the end of the line.
i = i + 1;
while i <= numel(line)
    if line(i) == q
        if i < numel(line) && line(i + 1) == q
            i = i + 2;
            continue;
        end
        return;
    end
    i = i + 1;
end
