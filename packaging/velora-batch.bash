# bash completion for velora-batch
_velora_batch()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --color | --colour | --gray | -j | --jobs | --shard)
            return
            ;;
        --name)
            # The fields a template may hold.
            COMPREPLY=($(compgen -W '{stem}{suffix}.{ext} {stem} {ext} {suffix} {folder}' -- "$cur"))
            return
            ;;
        --preserve)
            COMPREPLY=($(compgen -W 'mtime exif' -- "$cur"))
            return
            ;;
        --report)
            _filedir
            return
            ;;
        --film)
            COMPREPLY=($(compgen -W 'reddish blueish' -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W 'jpeg jpg png' -- "$cur"))
            return
            ;;
        -o | --output)
            _filedir -d
            return
            ;;
        --files-from)
            _filedir
            return
            ;;
        -h | --help | --version)
            return
            ;;
    esac

    $split && return

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--color= --colour= --gray= --no-gray-contrast --film= --output=
            --stdout --name= --jobs= --format= --overwrite --include-results --allow-damaged
            --preserve --preserve= --dry-run --shard= --report= --verbose --recursive
            --files-from= --null --quiet --help --version -o -j -n -r -0 -v -q -h' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi

    # The pictures velora-batch opens, and folders (to reach them, or to walk with -r).
    _filedir '@(jp?(e)g|jpe|jfif|png|bmp|dib|gif|tif?(f)|ico|webp|hei[cf]|avif|dng|cr[23w]|nef|nrw|arw|sr[2f]|raf|orf|rw[2l]|pef|srw|mrw|dcr|kdc|k25|x3f|3fr|fff|iiq|mos|mef|erf)'
} &&
    complete -F _velora_batch velora-batch
